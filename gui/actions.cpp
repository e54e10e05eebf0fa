#include "actions.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "quorvel.h"

namespace quorvelw {
namespace {
struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;
}  // namespace

FileFacts file_facts(const Session& session, bool listed) {
    FileFacts facts;
    // Only a test: the picture itself is read again by the Read action.
    GrayImage* image = image_import(session.path);
    facts.picture = image != nullptr;
    gray_free(image);
    facts.listed = listed;
    facts.nameLength = std::strlen(session.path + session.name);
    if (File file{std::fopen(session.path, "rb")}) {
        facts.opens = true;
        facts.length = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
    }
    return facts;
}

Outcome read_action(Session& session) {
    File stream(std::tmpfile());
    if (!stream) return Outcome::NoTemporaryFile;
    if (!dot_decode(session.path, stream.get())) return Outcome::ReadNoPicture;
    std::rewind(stream.get());
    session.path[session.name] = '\0';  // the picture's folder, its separator kept
    // The capacity leaves room for the completion text around the stored name; a longer
    // name is refused before anything is written.
    if (!payload_unpack(stream.get(), session.path, unpack_capacity(session.name)))
        return Outcome::ReadUnpackFailed;
    return Outcome::ReadDone;
}

Outcome write_action(Session& session) {
    File stream(std::tmpfile());
    if (!stream) return Outcome::NoTemporaryFile;
    const char* bare = session.path + session.name;
    if (!payload_pack(bare, stream.get())) return Outcome::WritePackFailed;
    // Refused before the picture is drawn: its name could not be reported.
    if (!write_name_fits(std::strlen(bare))) return Outcome::WriteEncodeFailed;
    std::rewind(stream.get());
    if (!dot_encode(stream.get(), session.path, session.selection))
        return Outcome::WriteEncodeFailed;
    return Outcome::WriteDone;
}

}  // namespace quorvelw

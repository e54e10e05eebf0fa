#include "decisions.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace quorvelw {
namespace {
constexpr size_t kShownWhole = 31;  // longer paths are shown as "..." and their tail
constexpr size_t kShownTail = 28;
constexpr uint64_t kMaxBody = 65535;  // a payload's body: name, terminator, contents

// The one string table, indexed by id - kCaption.
constexpr const char* kStrings[] = {
    "Quorvel",
    "変換終了 -> %s",
    "画像認識に失敗しました",
    "データのデコードに失敗しました",
    "変換終了 -> %s",
    "データのエンコードに失敗しました",
    "画像書き込みに失敗しました",
    "システムエラー",
};
constexpr int kStringCount = int(sizeof kStrings / sizeof kStrings[0]);

// Bytes that the completion text of id adds around the name ("%s" itself adds none).
size_t completion_overhead(int id) {
    return std::strlen(string_text(id)) - 2;
}
}  // namespace

const char* string_text(int id) {
    if (id < kCaption || id >= kCaption + kStringCount) return nullptr;
    return kStrings[id - kCaption];
}

std::string display_path(const char* path) {
    const size_t length = std::strlen(path);
    if (length <= kShownWhole) return path;
    const char* tail = path + length - kShownTail;
    // UTF-8 continuation bytes are 10xxxxxx: a label cannot show half a character.
    while ((static_cast<unsigned char>(*tail) & 0xC0) == 0x80) ++tail;
    return std::string("...") + tail;
}

bool take_path(const char* chosen, char (&buffer)[kBufferSize], size_t& name) {
    buffer[0] = '\0';
    name = 0;
    if (!chosen) return false;
    const size_t length = std::strlen(chosen);
    const char* separator = std::strrchr(chosen, PLATFORM_SEP);
    if (length >= kBufferSize || !separator || separator[1] == '\0') return false;
    std::memcpy(buffer, chosen, length + 1);
    name = size_t(separator - chosen) + 1;
    return true;
}

Enabling enabling_for(const FileFacts& facts) {
    Enabling e;
    e.read = facts.picture;
    // A length that cannot be told counts as too long; 64 bits cannot wrap on these sums.
    e.write = facts.listed && facts.opens && facts.length >= 0 &&
              uint64_t(facts.length) + facts.nameLength + 1 <= kMaxBody;
    return e;
}

Message message_for(Outcome outcome) {
    switch (outcome) {
        case Outcome::FileDialogCancelled:
        case Outcome::DialogClosed:
            return {};
        case Outcome::DialogFailed:
        case Outcome::NoTemporaryFile:
            return {kSystemError, Icon::Warning};
        case Outcome::ReadNoPicture:
            return {kReadNoPicture, Icon::Warning};
        case Outcome::ReadUnpackFailed:
            return {kReadUnpackFailed, Icon::Warning};
        case Outcome::ReadDone:
            return {kReadDone, Icon::None};
        case Outcome::WritePackFailed:
            return {kWritePackFailed, Icon::Warning};
        case Outcome::WriteEncodeFailed:
            return {kWriteEncodeFailed, Icon::Warning};
        case Outcome::WriteDone:
            return {kWriteDone, Icon::None};
    }
    return {kSystemError, Icon::Warning};
}

Action action_for(int result) {
    switch (result) {
        case 0:
            return Action::None;
        case 1:
            return Action::Read;
        case 2:
            return Action::Write;
        default:
            return Action::Failed;
    }
}

size_t unpack_capacity(size_t name) {
    // The stored name may take at most kBufferSize - 1 - overhead bytes, and its terminator.
    const size_t room = name + kBufferSize - completion_overhead(kReadDone);
    return room < kBufferSize ? room : kBufferSize;
}

bool write_name_fits(size_t nameLength) {
    return completion_overhead(kWriteDone) + nameLength + kExtensionRoom < kBufferSize;
}

bool completion_text(int id, const char* name, char (&out)[kBufferSize]) {
    out[0] = '\0';
    const char* format = string_text(id);
    if (!format || !name || (id != kReadDone && id != kWriteDone)) return false;
    const int n = std::snprintf(out, sizeof out, format, name);
    if (n < 0 || size_t(n) >= sizeof out) {
        out[0] = '\0';
        return false;
    }
    return true;
}

Report report_for(Outcome outcome, const char* name) {
    Report r;
    r.message = message_for(outcome);
    if (r.message.id == kReadDone || r.message.id == kWriteDone) {
        if (!completion_text(r.message.id, name, r.text)) {
            r.message = message_for(outcome == Outcome::ReadDone ? Outcome::ReadUnpackFailed
                                                                 : Outcome::WriteEncodeFailed);
        }
    }
    if (r.message.id != 0 && r.text[0] == '\0')
        std::snprintf(r.text, sizeof r.text, "%s", string_text(r.message.id));
    return r;
}

}  // namespace quorvelw

// What the dialog program decides, apart from the toolkit that shows it: its texts, the
// shortened file name, which conversions a chosen file allows, and the message that reports
// each outcome. Plain functions over plain values, so they are checked without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvelw {

// The path, selection and message buffers all hold 1023 bytes and a terminator.
constexpr size_t kBufferSize = 1024;

// The string table, ids 2000 to 2007.
enum StringId : int {
    kCaption = 2000,        // product name: file dialog title, caption of every message box
    kReadDone = 2001,       // "%s": the written data file's name
    kReadNoPicture = 2002,  // no payload could be decoded from the picture
    kReadUnpackFailed = 2003,
    kWriteDone = 2004,  // "%s": the picture's file name
    kWritePackFailed = 2005,
    kWriteEncodeFailed = 2006,
    kSystemError = 2007,
};
// The text of a string id; null for an id outside the table.
const char* string_text(int id);

// The file name as the main dialog shows it: the whole path when it is at most 31 bytes, else
// "..." and its last 28 bytes. The cut moves forward past a partial UTF-8 character, so the
// text never starts inside one (it may then keep fewer than 28 bytes).
std::string display_path(const char* path);

// The chosen file's path in the program's path buffer; false (buffer emptied) when the path
// does not fit or names no file behind its last separator. name is where the bare name begins.
bool take_path(const char* chosen, char (&buffer)[kBufferSize], size_t& name);

// What set-up learnt about the chosen file.
struct FileFacts {
    bool picture = false;   // some image-import plug-in delivers it
    bool listed = false;    // at least one output plug-in was listed
    bool opens = false;     // the file opens for binary reading
    int64_t length = 0;     // its length (negative when it cannot be told)
    size_t nameLength = 0;  // bytes of its bare name
};
struct Enabling {
    bool read = false;
    bool write = false;  // the Write button and the plug-in list together
};
// Read needs a picture; Write needs an output plug-in and a file that opens and fits a payload
// with its bare name and terminator (at most 65535 bytes, compared without wrapping).
Enabling enabling_for(const FileFacts& facts);

// How a run ended, each with at most one message.
enum class Outcome {
    FileDialogCancelled,
    DialogClosed,
    DialogFailed,
    NoTemporaryFile,
    ReadNoPicture,
    ReadUnpackFailed,
    ReadDone,
    WritePackFailed,
    WriteEncodeFailed,
    WriteDone,
};
enum class Icon { None, Warning };
struct Message {
    int id = 0;  // 0: no message at all
    Icon icon = Icon::None;
};
Message message_for(Outcome outcome);

// The main dialog's result: 0 closed, 1 Read, 2 Write; anything else means it failed.
enum class Action { None, Read, Write, Failed };
Action action_for(int result);

// Room for the stored name that Read may append to the picture's folder (name is where the
// folder ends): the buffer's capacity, less what the completion text adds around the name,
// so that the text reporting the name always fits its buffer.
size_t unpack_capacity(size_t name);
// Whether Write may start with a bare name of this length: the completion text must still
// fit with the plug-in's extension (up to kExtensionRoom bytes) behind the name.
constexpr size_t kExtensionRoom = 32;
bool write_name_fits(size_t nameLength);

// The completion text of id (kReadDone or kWriteDone) for name into out; false (out then
// empty) when it would not fit.
bool completion_text(int id, const char* name, char (&out)[kBufferSize]);

// The message box of an outcome: its id (0: none), icon and text. A completion reports name;
// should its text not fit, the action's failure is reported instead of a cut name.
struct Report {
    Message message;
    char text[kBufferSize] = "";
};
Report report_for(Outcome outcome, const char* name);

}  // namespace quorvelw

// The dialog program's work on the chosen file, apart from its windows: what set-up learns
// about the file, and the Read and Write conversions. Plain functions over the program's
// buffers; each returns how it ended and leaves the message to the caller.
#pragma once

#include <cstddef>

#include "decisions.h"

namespace quorvelw {

// The program's state from the file dialog to the end of the run.
struct Session {
    char path[kBufferSize] = "";       // the chosen file's full path, extended by the engine
    size_t name = 0;                   // where the bare name begins in path
    char selection[kBufferSize] = "";  // the chosen output plug-in's description
};

// Whether an image-import plug-in delivers the file, and whether it opens and how long it is;
// listed says whether any output plug-in was listed.
FileFacts file_facts(const Session& session, bool listed);

// Read: decodes the picture at path and writes the data file it carries into the picture's
// folder; path then holds that file's path, its stored name at name.
Outcome read_action(Session& session);
// Write: packs the bare name (relative to the current folder, which is the file's folder) and
// renders the picture with the selected plug-in; path then holds the picture's path.
Outcome write_action(Session& session);

}  // namespace quorvelw

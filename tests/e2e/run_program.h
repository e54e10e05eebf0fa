// Runs a built program as a user would: in a folder, with arguments, capturing both streams.
#pragma once

#include <string>
#include <vector>

namespace qvtest {
struct Run {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out, err;
};

// Runs program with args in folder cwd; input (if any) is fed to its standard input.
Run run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& cwd, const std::string& input = "");
}  // namespace qvtest

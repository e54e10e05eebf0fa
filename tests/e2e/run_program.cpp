#include "run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace qvtest {
namespace {
std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

Run run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& cwd, const std::string& input) {
    TempDir streams;
    const std::string out = streams / "out", err = streams / "err", in = streams / "in";
    { std::ofstream(in, std::ios::binary) << input; }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int i = open(in.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (i < 0 || o < 0 || e < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        dup2(i, 0), dup2(o, 1), dup2(e, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}
}  // namespace qvtest

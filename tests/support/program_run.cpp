#include "support/program_run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_tree.h"

namespace popuran::testing {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::function<void(pid_t)>& while_running) {
    TempTree scratch;
    scratch.Create("out", "");  // there even when the child is killed before it opens them
    scratch.Create("err", "");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (std::freopen(scratch.Path("out").c_str(), "w", stdout) == nullptr ||
            std::freopen(scratch.Path("err").c_str(), "w", stderr) == nullptr) {
            _exit(126);
        }
        std::vector<std::string> copies = args;
        copies.insert(copies.begin(), program);
        std::vector<char*> argv;
        for (auto& arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (while_running) {
        while_running(pid);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProgramRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = scratch.Read("out");
    run.err = scratch.Read("err");
    return run;
}

}  // namespace popuran::testing

// RunProgram: a program run as a child process, with what it printed and how it ended.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace popuran::testing {

struct ProgramRun {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs `program` with `args`, capturing standard output and error. `while_running`, if given,
// is called with the child's pid before the wait (to signal or kill it).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::function<void(pid_t)>& while_running = {});

}  // namespace popuran::testing

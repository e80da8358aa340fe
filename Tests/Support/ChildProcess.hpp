#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace stayloom::testing {

/// A real child process in a process group of its own: the group is killed and the child reaped
/// when the test ends, so nothing it started outlives the test or keeps its output open.
class ChildProcess {
public:
    /// Starts `argv[0]` (an absolute path) with the test's environment; `pid()` is -1 when it
    /// could not be started.
    explicit ChildProcess(std::vector<std::string> argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    /// Kills the group and reaps the child; `pid()` is -1 afterwards.
    void stop();

private:
    pid_t pid_ = -1;
};

} // namespace stayloom::testing

#include "Support/ChildProcess.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace stayloom::testing {

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    std::vector<char*> raw;
    for (auto& arg : argv) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    if (::posix_spawn(&pid_, raw[0], nullptr, &attributes, raw.data(), environ) != 0) {
        pid_ = -1;
    }
    ::posix_spawnattr_destroy(&attributes);
}

ChildProcess::~ChildProcess() {
    stop();
}

void ChildProcess::stop() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

} // namespace stayloom::testing

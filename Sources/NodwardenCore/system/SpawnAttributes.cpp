#include <NodwardenCore/system/SpawnAttributes.hpp>

#include <csignal>
#include <initializer_list>

namespace nodwarden {

SpawnAttributes::SpawnAttributes(SpawnSignalPolicy policy) {
    ::posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    short flags = POSIX_SPAWN_SETSIGDEF;
    switch (policy) {
    case SpawnSignalPolicy::ownChild: {
        sigfillset(&defaults);
        sigset_t none;
        sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        flags |= POSIX_SPAWN_SETSIGMASK;
        break;
    }
    case SpawnSignalPolicy::userCommand:
        for (const int signalNumber : {SIGINT, SIGQUIT, SIGPIPE}) {
            sigaddset(&defaults, signalNumber);
        }
        break;
    }
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setflags(&attributes_, flags);
}

SpawnAttributes::~SpawnAttributes() {
    ::posix_spawnattr_destroy(&attributes_);
}

} // namespace nodwarden

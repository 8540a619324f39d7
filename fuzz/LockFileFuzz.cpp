// UUCP lock files are written by any program on the machine, and a port listing reads them.
#include <cstddef>
#include <cstdint>

#include "platform/PortLocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pid_t pid = platform::LockFilePid(reinterpret_cast<const char*>(data), size);
    if (pid < 0) {
        __builtin_trap();  // a pid to hand to kill() is never negative: -1 would signal everyone
    }
    return 0;
}

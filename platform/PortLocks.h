#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

// Signs that another program holds a serial port, read without changing anything about it.

// True when lockDirectory holds a UUCP lock file LCK..<deviceName> (the way minicom, picocom and
// friends mark a port as theirs) that names a process still alive. The pid may be written as text
// or as a binary int; a stale file (its process gone) or one that cannot be read as a lock does
// not count.
bool LockFileNamesLiveProcess(const std::string& lockDirectory, const std::string& deviceName);

// The pid a lock file's contents name, text ("%10d\n") or a binary int, or 0 when they name none.
pid_t LockFilePid(const char* bytes, size_t size);

// True when the open terminal fd, at devicePath, is held by someone else: its exclusive flag is
// set (root gets past the flag at open, so it has to be asked for), or a live UUCP lock in
// /run/lock or /var/lock names the device. An advisory flock is left to the caller, which knows
// whether it wants one.
bool HeldByAnotherProgram(int fd, const std::string& devicePath);

}  // namespace platform

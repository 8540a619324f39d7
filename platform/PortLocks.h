#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// Signs that another program holds a serial port, read without changing anything about it, and
// the UUCP lock file by which this program marks a port as its own.
//
// Lock files live in $PRAVIK_LOCK_DIR when it is set (and are looked for only there); otherwise
// ours goes to /run/lock, and others' are looked for there and in /var/lock.

// True when lockDirectory holds a UUCP lock file LCK..<deviceName> (the way minicom, picocom and
// friends mark a port as theirs) that names a process still alive. The pid may be written as text
// or as a binary int; a stale file (its process gone) or one that cannot be read as a lock does
// not count.
bool LockFileNamesLiveProcess(const std::string& lockDirectory, const std::string& deviceName);

// The pid a lock file's contents name, text ("%10d\n") or a binary int, or 0 when they name none.
pid_t LockFilePid(const char* bytes, size_t size);

// The device path leads to, its links followed one readlink() at a time and the result written
// without "." and ".."; empty for a loop.
std::string DevicePathBehind(const std::string& path);

// The <name> in LCK..<name> for the device devicePath leads to, links followed: its path below
// /dev with '/' as '_' (/dev/ttyUSB0 is ttyUSB0, /dev/pts/5 pts_5), or the base name of a device
// outside /dev. Empty when the links go round in a loop.
std::string LockFileName(const std::string& devicePath);

// True when the open terminal fd, at devicePath, is held by someone else: its exclusive flag is
// set (root gets past the flag at open, so it has to be asked for), or a live UUCP lock names the
// device. An advisory flock is left to the caller, which knows whether it wants one.
bool HeldByAnotherProgram(int fd, const std::string& devicePath);

enum class LockFileOutcome {
    Taken,     // the lock file is ours; lockPath names it
    Held,      // a live process has it (this one too, for a second handle on the port)
    NotTaken,  // the lock folder is not ours to write: the port goes without one
};

// Marks the device at devicePath as this process's with a lock file holding our pid, made whole
// before it appears under its name. A stale lock (its process gone, or no lock at all) is taken
// over, once.
LockFileOutcome TakeLockFile(const std::string& devicePath, std::string& lockPath);

// Removes the lock file at lockPath, but only while it still names this process.
void ReleaseLockFile(const std::string& lockPath);

// A process that holds a port.
struct PortHolder {
    pid_t pid = 0;
    std::string program;  // its name as the system knows it ("minicom")
};

// Who holds the device at devicePath, where that can be known: the process a live lock file
// names; else the one whose flock is on the device; else another process that has it open. Never
// opens the device and never waits.
std::optional<PortHolder> FindPortHolder(const std::string& devicePath);

// "in use by minicom (1234)": how a holder is named wherever a port is shown as held.
std::string InUseBy(const PortHolder& holder);

}  // namespace platform

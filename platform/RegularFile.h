#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Opening the files a person names: settings files, firmware programs and their backups.
//
// A path typed or chosen in a window can name a named pipe, a terminal or a device. A plain
// open() of a pipe waits for a writer that may never come, and with it the window that asked;
// so every such file is opened without blocking and refused unless it is a regular file.
namespace platform {

// errno after OpenRegularFile when the path names something other than a regular file.
inline constexpr int kNotARegularFile = EINVAL;

// The reason for an errno from these files, in words: "not a regular file" for kNotARegularFile
// (which, being EINVAL, strerror would call an invalid argument), else what strerror says.
std::string FileErrorText(int error);

// Opens path with flags (O_RDONLY, O_WRONLY | O_CREAT | O_EXCL, ...) and mode for a file it
// creates, never blocking; close-on-exec and never a controlling terminal. Returns the
// descriptor in blocking mode, or -1 with errno set (kNotARegularFile for a pipe, a device or a
// folder).
int OpenRegularFile(const std::filesystem::path& path, int flags, mode_t mode = 0666);

// Appends to out what fd holds, but stops after limit bytes. Returns 0 or the errno of the
// failed read.
int ReadUpTo(int fd, size_t limit, std::string& out);

// Writes all of data to fd. Returns 0 or the errno of the failed write.
int WriteAll(int fd, std::string_view data);

// Writes all of data to a file opened for it, flushes it to disk and closes fd, whatever fails.
// Returns 0 or the errno of the first step that failed: a full disk may show only at fsync or
// close (network file systems), and a file counts as written only when it is all there.
int WriteFlushAndClose(int fd, std::string_view data);

}  // namespace platform

#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace platform {

std::string FileErrorText(int error) {
    return error == kNotARegularFile ? "not a regular file" : std::strerror(error);
}

int OpenRegularFile(const std::filesystem::path& path, int flags, mode_t mode) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = kNotARegularFile;
    } else {
        // A regular file ignores O_NONBLOCK today; clear it so that no read or write here ever
        // has to expect EAGAIN from one.
        const int status = ::fcntl(fd, F_GETFL);
        if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
            error = errno;
        }
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int ReadUpTo(int fd, size_t limit, std::string& out) {
    char chunk[16384];
    size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            break;
        }
        out.append(chunk, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
    }
    return 0;
}

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

int WriteFlushAndClose(int fd, std::string_view data) {
    int error = WriteAll(fd, data);
    // File systems that cannot flush say EINVAL or EROFS; what was written stands.
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace platform

#include "platform/ReplacementFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "platform/RegularFile.h"

namespace platform {

namespace {

// Flushes the folder entry of a rename; not every file system can, and the file's own data
// was flushed before the rename, so a refusal here changes nothing for the caller.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string RandomSuffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix;
    for (int i = 0; i < 8; ++i) {
        suffix.push_back(kLetters[random() % (sizeof kLetters - 1)]);
    }
    return suffix;
}

}  // namespace

CReplacementFile::~CReplacementFile() {
    Discard();
}

void CReplacementFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

int CReplacementFile::Create(const std::filesystem::path& target) {
    Discard();
    if (target.empty() || !target.has_filename()) {
        return EISDIR;
    }
    // A link named by the person stays a link: what it points at is what gets replaced.
    std::error_code ignored;
    target_ = std::filesystem::exists(target, ignored) ? std::filesystem::canonical(target, ignored)
                                                       : target;
    if (target_.empty()) {
        target_ = target;
    }

    struct stat existing {};
    bool keepMode = false;
    if (::stat(target_.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            return kNotARegularFile;
        }
        // A file its owner made read-only is not ours to replace, though the folder would let us.
        if (::access(target_.c_str(), W_OK) != 0) {
            return errno;
        }
        keepMode = true;
    } else if (errno != ENOENT) {
        return errno;
    }

    // Hidden, and named after the target, so that what a kill leaves behind says what it was.
    const std::filesystem::path folder =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    const std::string name = "." + target_.filename().string() + ".";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::filesystem::path candidate = folder / (name + RandomSuffix());
        fd_ = OpenRegularFile(candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd_ >= 0) {
            temporary_ = candidate;
        } else if (errno != EEXIST) {
            return errno;
        }
    }
    if (fd_ < 0) {
        return EEXIST;
    }
    if (keepMode && ::fchmod(fd_, existing.st_mode & 07777) != 0) {
        const int error = errno;
        Discard();
        return error;
    }
    return 0;
}

int CReplacementFile::Commit(std::string_view contents) {
    if (fd_ < 0) {
        return EBADF;
    }
    // The target is replaced only by a file that is all there.
    int error = WriteFlushAndClose(std::exchange(fd_, -1), contents);
    if (error == 0 && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        Discard();
        return error;
    }
    temporary_.clear();
    SyncFolder(target_.has_parent_path() ? target_.parent_path() : std::filesystem::path("."));
    return 0;
}

int ReplaceFile(const std::filesystem::path& target, std::string_view contents) {
    CReplacementFile file;
    const int error = file.Create(target);
    return error != 0 ? error : file.Commit(contents);
}

}  // namespace platform

#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace platform {

// A file that takes the place of another only once it is complete.
//
// The new contents go to a new file beside the target (same folder, so that the final rename
// cannot cross file systems), are flushed to disk and then renamed over the target. Until that
// rename the target is untouched, so a failed, cancelled or killed run leaves it byte for byte
// as it was; the new file is removed again on every way out but a kill.
class CReplacementFile {
public:
    CReplacementFile() = default;
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;
    ~CReplacementFile();

    // Checks the target and makes the new file beside it. The target may be missing; if it
    // exists it must be a regular file (kNotARegularFile otherwise) that we may write, and the
    // new file gets its permissions. Returns 0 or an errno.
    int Create(const std::filesystem::path& target);
    // Writes contents, flushes them and renames the new file over the target. Returns 0 or an
    // errno; on failure the new file is gone and the target as it was.
    int Commit(std::string_view contents);
    // Removes the new file; the target stays as it was.
    void Discard();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

// Replaces target with contents in one go, as Create and then Commit do. Returns 0 or an errno.
int ReplaceFile(const std::filesystem::path& target, std::string_view contents);

}  // namespace platform

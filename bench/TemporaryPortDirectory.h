#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// A port directory of our own, so that a benchmark neither sees nor disturbs anybody's COMn.
// Removed, with whatever is left in it, when it goes.
class TemporaryPortDirectory {
public:
    TemporaryPortDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pravik-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    TemporaryPortDirectory(const TemporaryPortDirectory&) = delete;
    TemporaryPortDirectory& operator=(const TemporaryPortDirectory&) = delete;
    ~TemporaryPortDirectory() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }

    bool Valid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

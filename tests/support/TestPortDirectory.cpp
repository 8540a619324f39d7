#include "support/TestPortDirectory.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/PortNames.h"
#include "platform/PortTable.h"

namespace testing_support {

void PortDirectoryTest::SetUp() {
    char pattern[] = "/tmp/pravik-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    for (int n = 1; platform::DefaultPortDevicePath(n); ++n) {
        const std::string entry = dir_ + "/COM" + std::to_string(n);
        ASSERT_EQ(::symlink("/nonexistent/pravik-test-port", entry.c_str()), 0);
    }
    ::setenv("PRAVIK_PORT_DIR", dir_.c_str(), 1);
    ::setenv("PRAVIK_LOCK_DIR", dir_.c_str(), 1);
}

void PortDirectoryTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    ::unsetenv("PRAVIK_PORT_DIR");
    ::unsetenv("PRAVIK_LOCK_DIR");
}

}  // namespace testing_support

// The udev suite runs inside umockdev test beds: libudev, /sys and the device nodes the code
// under test sees are the test bed's. That takes umockdev's preload library from the start of
// the process, so a binary started without it starts itself again with it, and runs the same
// from a shell, a debugger or CTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        // Appended, so that a sanitizer's runtime already there stays first. AddressSanitizer
        // checks that it comes first in the process, which the preload library defeats.
        const std::string value = preload != nullptr && *preload != '\0'
                                      ? std::string(preload) + ":libumockdev-preload.so.0"
                                      : std::string("libumockdev-preload.so.0");
        ::setenv("LD_PRELOAD", value.c_str(), 1);
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options =
            std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
        ::execv("/proc/self/exe", argv);
        return 127;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Arbitrary files offered to the firmware updater as a compiled program, and arbitrary window
// text as their names. A file is taken only when it is exactly what the motor's LOAD can carry,
// and it is then taken byte for byte; every refusal says why.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "devices/MotorTransfer.h"
#include "tools/firmware/ProgramFile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The file lives in memory and is reached by its /proc name, which the reader opens like any
// other path: a million inputs then cost no disk traffic.
int MemoryFile() {
    const int fd = ::memfd_create("program.smx", MFD_CLOEXEC);
    Check(fd >= 0);
    return fd;
}

// Every character a valid name can hold comes back as UTF-8 of itself.
void CheckName(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 2 < size; i += 3) {
        text.push_back(static_cast<wchar_t>(data[i] << 16 | data[i + 1] << 8 | data[i + 2]));
    }
    const auto path = program_file::PathOf(text);
    if (!path) {
        return;
    }
    const std::string& bytes = path->native();
    Check(!bytes.empty() && bytes.size() <= text.size() * 4);
    Check(bytes.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = MemoryFile();
    static const std::wstring path = L"/proc/self/fd/" + std::to_wstring(fd);
    if (size == 0) {
        return 0;
    }
    if (data[0] & 0x80) {
        CheckName(data + 1, size - 1);
        return 0;
    }
    // The selector's low bits repeat the rest, so that files past the program memory are made
    // from inputs the fuzzer keeps short.
    std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    const int repeats = (data[0] & 0x0F) == 0x0F ? 40 : 1;
    std::string file;
    for (int i = 0; i < repeats; ++i) {
        file += content;
    }
    Check(::ftruncate(fd, 0) == 0);
    Check(::pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()));

    std::wstring why;
    const auto program = program_file::ReadProgram(path, why);
    const bool loadable = !file.empty() && file.size() <= motor_transfer::kProgramMemory &&
                          file.find('\xFF') == std::string::npos;
    Check(program.has_value() == loadable);
    if (program) {
        Check(*program == file && why.empty());
    } else {
        Check(!why.empty());
    }
    return 0;
}

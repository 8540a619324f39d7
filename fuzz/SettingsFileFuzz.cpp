// Arbitrary settings files, up to the largest the reset tool reads. A file is taken only when
// every register it sets is one the controller has, with a value its width holds, and it sets
// at least one; whatever is taken writes out and reads back as the same table. A refused file
// leaves nothing to write and says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RegisterTable kVocabulary = omega::RtdHeatFilterwheelTable();
    if (size == 0) {
        return 0;
    }
    // A first byte of 0xFF repeats the rest 256 times, so that files of the largest size the
    // reset tool reads (1 MiB) come from inputs of 4 KiB, which the fuzzer reaches soon; any
    // other first byte is part of the file.
    std::string file(reinterpret_cast<const char*>(data), size);
    if (data[0] == 0xFF) {
        const std::string unit = file.substr(1);
        file.clear();
        for (int i = 0; i < 256; ++i) {
            file += unit;
        }
    }
    const std::string_view text(file);
    RegisterTable table;
    table.Set({0x07, 0x11, 2, L"Input Type"});  // the reader starts from nothing
    const std::wstring problem = omega::ReadSettingsText(text, table);

    if (!problem.empty()) {
        Check(table.empty());
        return 0;
    }
    Check(!table.empty());
    for (const RegisterEntry& entry : table) {
        const RegisterEntry* known = kVocabulary.Find(entry.Register);
        Check(known != nullptr);
        Check(entry.Width == known->Width && entry.Name == known->Name);
        Check(entry.Width >= 1 && entry.Width <= 6 && entry.Value >> (4 * entry.Width) == 0);
    }
    RegisterTable again;
    Check(omega::ReadSettingsText(omega::FormatSettingsFile(table), again).empty());
    Check(again == table);
    return 0;
}

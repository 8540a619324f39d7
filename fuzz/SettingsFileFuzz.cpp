// Arbitrary settings files. Whatever the reader makes of one must write out and read back as
// the same table, and every register it knows must carry the vocabulary's width and name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/omega/RegisterTable.h"
#include "tools/omega/TempCtrlSettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RegisterTable kVocabulary = omega::RtdHeatFilterwheelTable();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RegisterTable table;
    omega::ReadSettingsText(text, table);

    size_t lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    if (table.size() > lines) {
        std::abort();
    }
    for (const RegisterEntry& entry : table) {
        const RegisterEntry* known = kVocabulary.Find(entry.Register);
        const uint32_t width = known != nullptr ? known->Width : 0;
        if (entry.Width != width || (known != nullptr && entry.Name != known->Name) ||
            (known == nullptr && !entry.Name.empty())) {
            std::abort();
        }
    }
    RegisterTable again;
    omega::ReadSettingsText(omega::FormatSettingsFile(table), again);
    if (!(again == table)) {
        std::abort();
    }
    return 0;
}

#include "devices/Vocabulary.h"

#include <cctype>

namespace {

template <size_t N>
struct Table {
    std::array<std::string_view, N> keys;
    std::array<std::wstring_view, N> names;
};

constexpr Table<4> kShutterType{{"none", "standard", "CS65", "feedback"},
                                {L"None", L"Standard", L"", L"Feedback"}};
constexpr Table<4> kMotorModel{{"none", "23165D", "2316D", "2315D"},
                               {L"None", L"23165D", L"2316D", L"2315D"}};
constexpr Table<5> kProcessor{{"none", "SMv5.0.4.31", "SMv5.0.4.42", "SMv4.95", "PIC16F690"},
                              {L"", L"SMv5.0.4.31", L"SMv5.0.4.42", L"SMv4.95", L"PIC16F690"}};
constexpr Table<4> kTempController{
    {"none", "CNI32", "16DCB030", "zel"},
    {L"None", L"Omega CNi32 Series", L"Athena Legacy 16 Series", L"Zel Temp Controller"}};
constexpr Table<3> kHeatingMode{{"none", "heat", "heat+cool"},
                                {L"", L"Heating", L"Heating & Cooling"}};
constexpr Table<3> kFilterMode{{"unknown", "single", "multi"},
                               {L"", L"Single Position", L"Multi-Position"}};
constexpr Table<5> kInstrumentModel{
    {"unknown", "talvor", "miran-vf", "miran", "pellam"},
    {L"", L"Talvor Imager", L"Miran-VF Photometer", L"Miran Photometer", L"Pellam Imager"}};
constexpr Table<4> kMotorVariant{{"none", "legacy", "standard", "pellam"},
                                 {L"", L"Legacy (pre-2009)", L"Standard", L"Pellam"}};
constexpr Table<4> kShutterController{
    {"none", "shutterbox", "shutterbox26", "shutterbox30"},
    {L"None", L"Legacy Shutter Controller (pre-2009)", L"Shutter Controller v2.6 (2011-2014)",
     L"Shutter Controller v3.0"}};

template <size_t N>
constexpr EnumTable View(const Table<N>& table) {
    return EnumTable{table.keys, table.names};
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::wstring_view EnumTable::Name(int32_t index) const {
    return index >= 0 && index < size() ? names[static_cast<size_t>(index)] : std::wstring_view();
}

std::string_view EnumTable::Key(int32_t index) const {
    return index >= 0 && index < size() ? keys[static_cast<size_t>(index)] : std::string_view();
}

namespace vocabulary {

const EnumTable ShutterType = View(kShutterType);
const EnumTable MotorModel = View(kMotorModel);
const EnumTable Processor = View(kProcessor);
const EnumTable TempController = View(kTempController);
const EnumTable HeatingMode = View(kHeatingMode);
const EnumTable FilterMode = View(kFilterMode);
const EnumTable InstrumentModel = View(kInstrumentModel);
const EnumTable MotorVariant = View(kMotorVariant);
const EnumTable ShutterController = View(kShutterController);

}  // namespace vocabulary

bool LookupKey(const EnumTable& table, std::string_view text, int32_t& field) {
    for (int32_t i = 0; i < table.size(); ++i) {
        if (EqualsIgnoringCase(table.keys[static_cast<size_t>(i)], text)) {
            field = i;
            return true;
        }
    }
    return false;
}

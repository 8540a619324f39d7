#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

// The configuration vocabulary: for each enumeration, the key texts that devices report and the
// names a window shows, both indexed from 0 (index 0 stands for none). Plain constant data, so it
// exists before any window and lives as long as the program; drivers read it too, which is why
// it depends on nothing.
struct EnumTable {
    std::span<const std::string_view> keys;
    std::span<const std::wstring_view> names;

    int32_t size() const { return static_cast<int32_t>(keys.size()); }
    // The display name of an index; empty for an index outside the table.
    std::wstring_view Name(int32_t index) const;
    std::string_view Key(int32_t index) const;
};

namespace vocabulary {

extern const EnumTable ShutterType;
extern const EnumTable MotorModel;
extern const EnumTable Processor;
extern const EnumTable TempController;
extern const EnumTable HeatingMode;
extern const EnumTable FilterMode;
extern const EnumTable InstrumentModel;
extern const EnumTable MotorVariant;
extern const EnumTable ShutterController;

// Indices the program acts on.
inline constexpr int32_t kShutterTypeFeedback = 3;
inline constexpr int32_t kTempControllerOmega = 1;
inline constexpr int32_t kTempControllerAthena = 2;
inline constexpr int32_t kFilterModeSingle = 1;
inline constexpr int32_t kFilterModeMulti = 2;
inline constexpr int32_t kInstrumentModelTalvor = 1;
inline constexpr int32_t kShutterControllerLegacy = 1;
inline constexpr int32_t kShutterController26 = 2;
inline constexpr int32_t kShutterController30 = 3;

}  // namespace vocabulary

// Compares text case-insensitively with each key in index order; at the first match stores the
// index in field and returns true. No match leaves field alone and returns false.
bool LookupKey(const EnumTable& table, std::string_view text, int32_t& field);

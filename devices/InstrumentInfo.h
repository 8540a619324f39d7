#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An instrument device's identification, as its "key=value" reply lines give it.
struct InstrumentInfo {
    std::wstring FirmwareVersion;             // "ver"
    int32_t NumberOfFilters = 0;              // "nof"
    std::wstring FilterSize;                  // "fsz"
    int32_t ShutterType = 0;                  // "sht", vocabulary::ShutterType
    int32_t MotorModel = 0;                   // "mot", vocabulary::MotorModel
    int32_t Processor = 0;                    // "prc", vocabulary::Processor
    int32_t TempController = 0;               // "tct", vocabulary::TempController
    int32_t InstrumentModel = 0;              // "dev", vocabulary::InstrumentModel
    int32_t InstrumentKind = 0;               // carried: vocabulary::FilterMode
    int32_t MotorGeneration = 0;              // carried: vocabulary::MotorVariant
    int32_t ShutterControllerGeneration = 0;  // set by the single-filter instrument
    int32_t StandardFlag = 0;                 // carried

    bool operator==(const InstrumentInfo&) const = default;

    // What a driver resets to when an identification reply begins: texts empty, no filters,
    // and the looked-up fields -1, so that a key the device did not send shows as unread.
    static InstrumentInfo Unread();

    // Applies one reply line: split at the first "=", key and value trimmed of white space; an
    // unknown key, a line without "=" or a value no table knows changes nothing.
    void ApplyIdentificationLine(std::string_view line);
};

// What the instrument said about itself, in two lines: model, firmware and filters ("Talvor
// Imager \u00B7 firmware 5.2 \u00B7 6 filters"), then the devices it is built from, each as the
// vocabulary names it. What it did not say (unread: -1 or empty, or a value without a name) is
// left out; nothing read gives nothing.
std::wstring IdentityText(const InstrumentInfo& info);

// What one identification reply line says, as IdentityText names it ("firmware 5.2", "6 filters",
// "Motor: 23165D"); nothing for a line that says nothing IdentityText shows, or that shows only
// as something other than printable ASCII.
std::optional<std::string> DescribeIdentificationLine(std::string_view line);

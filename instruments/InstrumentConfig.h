#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "serial/CommSettings.h"

// The configuration the console edits and copies, by value, into the instrument it connects.
// The device indices select drivers (0 = none fitted); the rest is carried for the console.
struct InstrumentConfig {
    static constexpr CommSettings kDefaultPort{1, 9600, 8, 0, 0, 0};

    std::wstring FirmwareVersion;
    int32_t NumberOfFilters = 0;
    std::wstring FilterSize;
    int32_t ShutterType = 0;
    int32_t MotorModel = 0;
    int32_t Processor = 0;
    int32_t TempController = 0;  // 1 Omega, 2 Athena
    int32_t InstrumentModel = 0;
    int32_t InstrumentKind = 0;               // 1 single-filter, 2 multi-filter
    int32_t MotorGeneration = 0;              // 1 legacy motor program, 2 current
    int32_t ShutterControllerGeneration = 0;  // 1 legacy, 2 v2.6, 3 v3.0
    int32_t HeatingMode = 1;                  // 1 heating only, 2 heating and cooling
    int32_t StandardFlag = 0;
    double Setpoint1 = 23.0;
    double Setpoint2 = 23.5;
    CommSettings InstrumentPort = kDefaultPort;
    CommSettings TempControllerPort = kDefaultPort;
    std::array<int32_t, 8> Integers = {255, 50, 50, 50, 10000, 10000, 200, 1000};
    CommSettings ThirdPort = kDefaultPort;
    std::wstring Text;
    double Real = -1.0;
    int32_t LastInteger = 0;

    bool operator==(const InstrumentConfig&) const = default;
};

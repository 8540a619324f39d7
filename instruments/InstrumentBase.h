#pragma once

#include <cstdint>

#include "devices/InstrumentInfo.h"
#include "instruments/InstrumentConfig.h"
#include "platform/Event.h"
#include "serial/CommSettings.h"

// The instrument as the console drives it, whichever kind it is. Every operation that reaches a
// device first checks that the configuration selects a fitted device of this instrument's kind,
// and fails (or does nothing) when it does not. Results are true on success; nothing throws and
// no message is shown: the caller words a failure.
class CInstrumentBase {
public:
    CInstrumentBase() = default;
    CInstrumentBase(const CInstrumentBase&) = delete;
    CInstrumentBase& operator=(const CInstrumentBase&) = delete;
    virtual ~CInstrumentBase() = default;

    // Tries the given settings on the device (or controller) for the length of the call: open,
    // one question, close; the device's own settings are put back.
    virtual bool ProbeInstrument(CommSettings settings) = 0;
    virtual bool ProbeTempController(CommSettings settings) = 0;
    // Copy settings into the device or controller; no I/O.
    virtual void SetInstrumentCommSettings(CommSettings settings) = 0;
    virtual void SetTempControllerCommSettings(CommSettings settings) = 0;
    // Resets the filter wheel; with background set, on a worker that signals one of the events.
    virtual bool ResetFilter(bool wait, bool background, platform::Event* successEvent,
                             platform::Event* failureEvent) = 0;
    virtual bool GetDeviceInfo(InstrumentInfo& info) = 0;
    virtual bool SetDeviceInfo(InstrumentInfo info) = 0;
    virtual bool GetShutterState(int32_t& state) = 0;
    // 1 opens, 0 closes; anything else fails.
    virtual bool SetShutterState(int32_t state) = 0;
    virtual bool ChangeFilter(int32_t position) = 0;
    virtual bool GetFilter(int32_t& position) = 0;
    virtual bool ReadTemperature(double& temperature) = 0;
    // The temperature read last, without I/O.
    virtual double GetLastTemperature() = 0;
    virtual bool GetTemperatureSetpoint(double& setpoint) = 0;
    virtual bool SetTemperatureSetpoint(double setpoint) = 0;
    virtual bool GetLightSensorState(int32_t& state) = 0;
    // Copies the configured port settings into the devices and opens their ports.
    virtual bool Connect() = 0;
    virtual bool ConfigureTempController() = 0;
    virtual bool Disconnect() = 0;

    InstrumentConfig Config;
    InstrumentInfo Info;
    int32_t Connected = 0;
};

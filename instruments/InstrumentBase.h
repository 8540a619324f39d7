#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "devices/InstrumentInfo.h"
#include "instruments/InstrumentConfig.h"
#include "platform/Event.h"
#include "platform/Failure.h"
#include "serial/CommSettings.h"
#include "serial/SerialPort.h"

// The instrument as the console drives it, whichever kind it is.
//
// The contract, for every operation here and in the instruments:
// - true is success. false means the operation did not do what it says; LastFailure() then says
//   why, in words naming the port and the fix (its kind is one of platform::FailureKind). Nothing
//   throws and no message is shown: the caller words the failure and may add that reason.
// - Every operation that reaches a device first checks that the configuration selects a fitted
//   device of this instrument's kind, and fails (NotFitted) when it does not. The exceptions are
//   the operations a kind of instrument answers with fixed values (the single-filter instrument's
//   filter and temperature operations: true, nothing sent).
// - Out-parameters are written only on success; on failure they keep what the caller had.
// - Operations run on the caller's thread and block until the device has answered or its
//   time-out has passed; a driver's command lock serialises them. ResetFilter with background
//   runs the reset on a worker of its own, which records its failure like any other operation.
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

    // Why the last operation that returned false failed. A success does not clear it, except
    // that Connect starts afresh and, connected, leaves a line setting the system refused here.
    platform::Failure LastFailure() const;

    InstrumentConfig Config;
    InstrumentInfo Info;
    int32_t Connected = 0;

protected:
    // Runs an operation on device: true, or false with the device's reason as this instrument's.
    // A line setting the system refused is kept too, though the operation succeeded.
    template <typename Operation>
    bool Run(CSerialPort& device, Operation&& operation) {
        device.ClearFailure();
        if (operation()) {
            if (device.LastFailure().Kind == platform::FailureKind::LineSettingRefused) {
                TakeFailure(device);
            }
            return true;
        }
        TakeFailure(device);
        return false;
    }
    // false, with this reason.
    bool Fail(platform::FailureKind kind, std::string text);
    // Forgets the last failure; Connect starts with it.
    void ForgetFailure();

private:
    void TakeFailure(const CSerialPort& device);

    mutable std::mutex failureMutex_;
    platform::Failure failure_;  // under failureMutex_
};

#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/Athena16TempController.h"
#include "devices/OmegaTempController.h"
#include "devices/SmartMotor.h"
#include "devices/SmartMotorLegacy.h"
#include "instruments/InstrumentBase.h"

// The multi-filter instrument: a filter wheel and a shutter moved by a SmartMotor, and a
// temperature controller holding the filters at their set temperature. It forwards to the motor
// and controller its configuration selects; an instrument may have no controller at all.
class CFilterWheel : public CInstrumentBase {
public:
    CFilterWheel();
    ~CFilterWheel() override;

    bool ProbeInstrument(CommSettings settings) override;
    bool ProbeTempController(CommSettings settings) override;
    void SetInstrumentCommSettings(CommSettings settings) override;
    void SetTempControllerCommSettings(CommSettings settings) override;
    // Restarts the motion program ("Z"), which homes the wheel. With wait, here and now; with
    // background, on a worker that signals successEvent or failureEvent (the caller's) when the
    // motor has answered or not, and true at once.
    bool ResetFilter(bool wait, bool background, platform::Event* successEvent,
                     platform::Event* failureEvent) override;
    bool GetDeviceInfo(InstrumentInfo& info) override;
    bool SetDeviceInfo(InstrumentInfo info) override;
    bool GetShutterState(int32_t& state) override;
    bool SetShutterState(int32_t state) override;
    bool ChangeFilter(int32_t position) override;
    bool GetFilter(int32_t& position) override;
    bool ReadTemperature(double& temperature) override;
    double GetLastTemperature() override;
    bool GetTemperatureSetpoint(double& setpoint) override;
    bool SetTemperatureSetpoint(double setpoint) override;
    bool GetLightSensorState(int32_t& state) override;
    bool Connect() override;
    // Writes the set points for the heating mode and makes the controller take them up.
    bool ConfigureTempController() override;
    bool Disconnect() override;

    CSmartMotor* SelectedMotor();
    CTempControllerBase* SelectedController();

    // A heating-only controller's second set point stands this far above the first, out of
    // the way.
    static constexpr double kHeatingOnlySetpoint2Offset = 50.0;

    COmegaTempController Omega;
    CAthena16TempController Athena;
    CSmartMotor Motor;
    CSmartMotorLegacy LegacyMotor;

private:
    // The configuration names a motor, and a controller index this instrument knows (0 = none).
    bool ConfigurationUsable();
    // Runs operation on the selected motor (controller); without one, fails as not fitted.
    template <typename Operation>
    bool OnMotor(Operation&& operation);
    template <typename Operation>
    bool OnController(Operation&& operation);
    void ReapFinishedResets();

    std::array<CSmartMotor*, 3> motors_;
    std::array<CTempControllerBase*, 3> controllers_;

    struct ResetWorker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex resetMutex_;
    std::vector<ResetWorker> resets_;
};

#include "instruments/FilterWheel.h"

#include "devices/Vocabulary.h"

namespace {

constexpr const char* kNoMotor = "The instrument as configured has no SmartMotor.";
constexpr const char* kNoController = "The instrument as configured has no temperature controller.";

}  // namespace

CFilterWheel::CFilterWheel()
    : motors_{nullptr, &LegacyMotor, &Motor}, controllers_{nullptr, &Omega, &Athena} {
    Omega.ReplyTimeout = 1000;
}

CFilterWheel::~CFilterWheel() {
    // A reset still running talks to the motor: it has to end before the motor goes. Its wait is
    // bounded by the motor's reset time-out.
    std::vector<ResetWorker> workers;
    {
        std::lock_guard lock(resetMutex_);
        workers.swap(resets_);
    }
    for (ResetWorker& worker : workers) {
        worker.thread.join();
    }
    if (CSmartMotor* motor = SelectedMotor()) {
        motor->Detach();
    }
}

CSmartMotor* CFilterWheel::SelectedMotor() {
    const int32_t generation = Config.MotorGeneration;
    if (Config.InstrumentKind != vocabulary::kFilterModeMulti || generation < 1 || generation > 2) {
        return nullptr;
    }
    return motors_[static_cast<size_t>(generation)];
}

CTempControllerBase* CFilterWheel::SelectedController() {
    const int32_t index = Config.TempController;
    if (Config.InstrumentKind != vocabulary::kFilterModeMulti || index < 1 || index > 2) {
        return nullptr;
    }
    return controllers_[static_cast<size_t>(index)];
}

bool CFilterWheel::ConfigurationUsable() {
    return SelectedMotor() != nullptr && Config.TempController >= 0 && Config.TempController <= 2;
}

template <typename Operation>
bool CFilterWheel::OnMotor(Operation&& operation) {
    CSmartMotor* motor = SelectedMotor();
    if (motor == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    return Run(*motor, [&] { return operation(*motor); });
}

template <typename Operation>
bool CFilterWheel::OnController(Operation&& operation) {
    CTempControllerBase* controller = SelectedController();
    if (controller == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    return Run(*controller, [&] { return operation(*controller); });
}

bool CFilterWheel::ProbeInstrument(CommSettings settings) {
    CSmartMotor* motor = SelectedMotor();
    if (motor == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    const CommSettings saved = motor->Settings;
    motor->Settings = settings;
    const bool ok = Run(*motor, [&] { return motor->Probe(); });
    motor->Settings = saved;
    return ok;
}

bool CFilterWheel::ProbeTempController(CommSettings settings) {
    CTempControllerBase* controller = SelectedController();
    if (controller == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoController);
    }
    const CommSettings saved = controller->Settings;
    controller->Settings = settings;
    const bool ok = Run(*controller, [&] { return controller->Probe(); });
    controller->Settings = saved;
    return ok;
}

void CFilterWheel::SetInstrumentCommSettings(CommSettings settings) {
    if (CSmartMotor* motor = SelectedMotor()) {
        motor->Settings = settings;
    }
}

void CFilterWheel::SetTempControllerCommSettings(CommSettings settings) {
    if (CTempControllerBase* controller = SelectedController()) {
        controller->Settings = settings;
    }
}

void CFilterWheel::ReapFinishedResets() {
    std::lock_guard lock(resetMutex_);
    for (auto it = resets_.begin(); it != resets_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = resets_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CFilterWheel::ResetFilter(bool wait, bool background, platform::Event* successEvent,
                               platform::Event* failureEvent) {
    CSmartMotor* motor = SelectedMotor();
    if (motor == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    if (wait) {
        return Run(*motor, [&] { return motor->Reset(); });
    }
    if (!background) {
        return Fail(platform::FailureKind::InvalidRequest,
                    "A filter-wheel reset must either be waited for or run in the background.");
    }
    ReapFinishedResets();
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread worker([this, motor, successEvent, failureEvent, done] {
            // The motor's command lock is held for the whole reset: every other motor operation
            // of the console waits for it.
            bool restarted = false;
            Run(*motor, [&] {
                motor->Reset(&restarted);
                return restarted;
            });
            if (platform::Event* event = restarted ? successEvent : failureEvent) {
                event->Set();
            }
            done->store(true);
        });
        std::lock_guard lock(resetMutex_);
        resets_.push_back({std::move(worker), std::move(done)});
    } catch (const std::system_error& error) {
        return Fail(platform::FailureKind::InvalidRequest,
                    std::string("The reset could not be started: ") + error.what() + ".");
    }
    return true;
}

bool CFilterWheel::GetDeviceInfo(InstrumentInfo& info) {
    return OnMotor([&](CSmartMotor& motor) { return motor.GetDeviceInfo(info); });
}

bool CFilterWheel::SetDeviceInfo(InstrumentInfo info) {
    CSmartMotor* motor = SelectedMotor();
    if (motor == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    std::lock_guard reply(motor->ReplyLock);
    motor->InstrumentInfo = std::move(info);
    return true;
}

bool CFilterWheel::GetShutterState(int32_t& state) {
    return OnMotor([&](CSmartMotor& motor) { return motor.GetShutterState(state); });
}

bool CFilterWheel::SetShutterState(int32_t state) {
    CSmartMotor* motor = SelectedMotor();
    if (motor == nullptr) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    switch (state) {
        case 1:
            return Run(*motor, [&] { return motor->OpenShutter(); });
        case 0:
            return Run(*motor, [&] { return motor->CloseShutter(); });
        default:
            return Fail(
                platform::FailureKind::InvalidRequest,
                "Shutter state " + std::to_string(state) + " is neither open (1) nor closed (0).");
    }
}

bool CFilterWheel::ChangeFilter(int32_t position) {
    // Without a motor, that is the failure; with one, position 0 asks for no filter.
    if (SelectedMotor() != nullptr && position == 0) {
        return Fail(platform::FailureKind::InvalidRequest, "No filter was chosen.");
    }
    return OnMotor([&](CSmartMotor& motor) { return motor.ChangeFilter(position); });
}

bool CFilterWheel::GetFilter(int32_t& position) {
    return OnMotor([&](CSmartMotor& motor) { return motor.GetFilter(position); });
}

bool CFilterWheel::ReadTemperature(double& temperature) {
    return OnController(
        [&](CTempControllerBase& controller) { return controller.GetTemperature(temperature); });
}

double CFilterWheel::GetLastTemperature() {
    CTempControllerBase* controller = SelectedController();
    return controller != nullptr ? controller->LastTemperature : 0.0;
}

bool CFilterWheel::GetTemperatureSetpoint(double& setpoint) {
    return OnController(
        [&](CTempControllerBase& controller) { return controller.GetSetpoint(setpoint); });
}

bool CFilterWheel::SetTemperatureSetpoint(double setpoint) {
    return OnController(
        [&](CTempControllerBase& controller) { return controller.SetSetpoint(setpoint); });
}

bool CFilterWheel::GetLightSensorState(int32_t& state) {
    return OnMotor([&](CSmartMotor& motor) { return motor.GetLightSensor(state); });
}

bool CFilterWheel::Connect() {
    ForgetFailure();
    if (!ConfigurationUsable()) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    CSmartMotor* motor = SelectedMotor();
    motor->Settings = Config.InstrumentPort;
    CTempControllerBase* controller = SelectedController();
    if (controller == nullptr) {
        const bool ok = Run(*motor, [&] { return motor->OpenPort(); });
        Connected = ok ? 1 : 0;
        return ok;
    }
    controller->Settings = Config.TempControllerPort;
    // A controller that does not open leaves the motor's port open until Disconnect.
    const bool ok = Run(*motor, [&] { return motor->OpenPort(); }) &&
                    Run(*controller, [&] { return controller->OpenPort(); });
    Connected = ok ? 1 : 0;
    return ok;
}

bool CFilterWheel::ConfigureTempController() {
    if (!ConfigurationUsable()) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    CTempControllerBase* controller = SelectedController();
    if (controller == nullptr) {
        return true;
    }
    // Both set points are written even when the first write fails: the controller should end
    // up with as much of the configuration as it takes.
    bool written = true;
    const auto write = [&](double setpoint1, double setpoint2) {
        written = Run(*controller, [&] { return controller->SetSetpoint(setpoint1); });
        if (controller->HasSetpoint2()) {
            written =
                Run(*controller, [&] { return controller->SetSetpoint2(setpoint2); }) && written;
        }
    };
    switch (Config.HeatingMode) {
        case 1:
            write(Config.Setpoint1, Config.Setpoint1 + kHeatingOnlySetpoint2Offset);
            break;
        case 2:
            write(Config.Setpoint1, Config.Setpoint2);
            break;
        default:
            break;  // no heating mode: no set point is written
    }
    if (!written) {
        return false;
    }
    return Run(*controller, [&] { return controller->ResetController(); });
}

bool CFilterWheel::Disconnect() {
    if (!ConfigurationUsable()) {
        return Fail(platform::FailureKind::NotFitted, kNoMotor);
    }
    CSmartMotor* motor = SelectedMotor();
    CTempControllerBase* controller = SelectedController();
    const bool ok = motor->ClosePort() && (controller == nullptr || controller->ClosePort());
    Connected = ok ? 0 : 1;
    return ok;
}

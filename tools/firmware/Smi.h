#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/Failure.h"

// The SMI layer the firmware updater drives: the host, its two extra interfaces and the motor,
// with the operations the updater calls, in the order it calls them. Every operation answers
// with a status; a failed one carries a description written for the technician (which step,
// which port, what the motor said).
//
// Progress is reported through the host's notification callback as (code, value), on the
// calling thread and before the operation goes on:
//
//   1 downloading, value = the program's size in bytes
//   2 progress, value = the count done of the last total
//   3 the step is finished (value 0)
//   4 backing up, value = the most the motor's program memory can hold (a program's length is
//     only known once its end has arrived)
//   5 addressing motors, value = 1
//   6 detecting motors, value = 1
//   7 resolving address collisions (never sent: one motor per port is addressed)
//   8 getting motor information, value = 1
//
// GetMotor sends 6, 2, 3, then 5, 2, 3, then 8, 2, 3. BackupProgram sends 4, a 2 per block
// received and 3. DownloadProgram sends 1, a 2 per block gone through and 3 after the check.
// A failing operation stops sending where it failed; no 3 follows.

// The result of one operation.
struct SmiStatus {
    bool Succeeded = true;
    std::wstring Description;                                  // why it failed; empty on success
    platform::FailureKind Kind = platform::FailureKind::None;  // the same, as its kind

    static SmiStatus Ok() { return {}; }
    static SmiStatus Fail(platform::FailureKind kind, std::wstring description) {
        return {false, std::move(description), kind};
    }
    explicit operator bool() const { return Succeeded; }
};

// The notification codes.
namespace smi_notify {
inline constexpr int32_t kDownloading = 1;
inline constexpr int32_t kProgress = 2;
inline constexpr int32_t kFinished = 3;
inline constexpr int32_t kBackingUp = 4;
inline constexpr int32_t kAddressing = 5;
inline constexpr int32_t kDetecting = 6;
inline constexpr int32_t kResolvingCollisions = 7;
inline constexpr int32_t kMotorInformation = 8;
}  // namespace smi_notify

using SmiNotifyCallback = std::function<void(int32_t code, int32_t value)>;

// Motion commands of the host. The updater only holds this interface for as long as it holds
// the host; it asks for it because a host without it is not a usable host.
class ISMICMotion {
public:
    virtual ~ISMICMotion() = default;
};

// Path (multi-axis) motion of the host; held like ISMICMotion and never called.
class ISMIPath {
public:
    virtual ~ISMIPath() = default;
};

// One motor on the host's port.
class ISMIMotor {
public:
    virtual ~ISMIMotor() = default;

    // Reads the motor's program and writes it, byte for byte as the motor gives it, to the file
    // at path (which must not exist yet). The motor's program is not changed.
    virtual SmiStatus BackupProgram(const std::wstring& path) = 0;

    // Loads the program file at path into the motor. verify non-zero: the motor's own checksum
    // report must pass afterwards. loadedBytes: the program bytes the motor acknowledged.
    virtual SmiStatus DownloadProgram(const std::wstring& path, int32_t verify,
                                      int32_t& loadedBytes) = 0;
};

// The host: one serial port with the motors on it.
class ISMIHost {
public:
    virtual ~ISMIHost() = default;

    // The interfaces the host offers; nothing when it does not. They live as long as the host.
    virtual ISMICMotion* QueryCMotion() = 0;
    virtual ISMIPath* QueryPath() = 0;

    // Where progress goes; called synchronously, on the thread that called the operation.
    virtual SmiStatus SetNotify(SmiNotifyCallback notify) = 0;
    // "Com" and the port number, as the port list shows it.
    virtual SmiStatus SetPortName(const std::wstring& name) = 0;
    virtual SmiStatus SetBaudRate(int32_t baud) = 0;
    // The host's setup option (0 after creation).
    virtual SmiStatus HostSetupQuery(int32_t& option) = 0;
    // 0: find the motor and address it when GetMotor asks for one. No other option exists.
    virtual SmiStatus HostSetupOption(int32_t option) = 0;
    // Opens the port, finds the motor, gives it the address and reads its program checksum.
    // Only motor 1 exists: the instrument has one motor on its port.
    virtual SmiStatus GetMotor(int32_t number, std::unique_ptr<ISMIMotor>& motor) = 0;
};

// Makes a host; nothing when none can be made. The updater takes one of these so that a test
// can make creation fail or hand over a host that lacks an interface.
using SmiHostFactory = std::function<std::unique_ptr<ISMIHost>()>;

// A host that speaks the SmartMotor's own serial protocol.
std::unique_ptr<ISMIHost> CreateSmiHost();

// A failed operation as the updater meets it: raised by SmiCheck, carrying the description.
class CSmiError : public std::exception {
public:
    explicit CSmiError(SmiStatus status) : status_(std::move(status)) {}
    const char* what() const noexcept override { return "SMI operation failed"; }
    const std::wstring& Description() const { return status_.Description; }
    platform::FailureKind Kind() const { return status_.Kind; }

private:
    SmiStatus status_;
};

// Raises CSmiError for a failed status.
inline void SmiCheck(const SmiStatus& status) {
    if (!status.Succeeded) {
        throw CSmiError(status);
    }
}

#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devices/TempControllerBase.h"

// The Omega CNi32 series controller. Commands are "*" (the controller's recognition character),
// a command class and a register, and CR; replies end at CR. Set points are 24-bit registers in
// the format of OmegaSetpoint.h, with the decimal point taken from the reading configuration
// register 0x08. A controller whose bus format has the echo bit set repeats the command class
// and register ahead of every answer; opening the port switches that off.
class COmegaTempController : public CTempControllerBase {
public:
    static constexpr int kSetpointReadBackTries = 20;
    static constexpr int kResetReadBackTries = 50;

    COmegaTempController();
    ~COmegaTempController() override;

    // Opens, identifies the controller by its bus format register ("*R1F") and, when it echoes,
    // clears the echo bit and restarts it.
    bool OpenPort() override;

    // The meaning of a reply line to one of the controller's commands, for the traffic log:
    // the process reading and the set points.
    static std::optional<std::string> DescribeReply(std::string_view command,
                                                    std::string_view reply);

    bool GetTemperature(double& temperature) override;
    bool GetSetpoint(double& setpoint) override;
    bool SetSetpoint(double setpoint) override;
    bool GetSetpoint2(double& setpoint) override;
    bool SetSetpoint2(double setpoint) override;
    // Restarts the controller so that it takes up new settings, and waits until it answers with
    // a set point again.
    bool ResetController() override;
    bool HasSetpoint2() override { return true; }

    // "*R%02X": value is the register as the controller shows it, 0xFFFFFFFF when no reply was
    // read. Takes no CommandLock: callers that need a whole exchange hold it themselves.
    bool ReadRegister(int32_t reg, uint32_t& value);

    // "*W", the register in two hexadecimal digits and the value in widthDigits (zero-padded,
    // never cut short); no reply. Takes no CommandLock, like ReadRegister.
    bool WriteRegister(uint32_t reg, uint32_t value, uint32_t widthDigits);

    // Whether the controller echoed when the port was opened; kept in ReplyValid.
    bool EchoMode() const { return ReplyValid == 1; }

    // Set only while ReadRegister waits: any reply is then read as plain hexadecimal. Written by
    // the caller's thread, read by the monitoring thread.
    std::atomic<uint32_t> RegisterReadPending{0};

    // Pauses, in milliseconds; tests shorten them. The controller needs a moment before a write
    // shows in its registers; a decimal-point read that went unanswered is tried once more a
    // second later; a changed bus format needs a moment before the restart.
    uint32_t ReadBackDelayMs = 100;
    uint32_t DecimalPointRetryDelayMs = 1000;
    uint32_t EchoFixDelayMs = 200;

protected:
    Reply InterpretReply() override;

private:
    bool ReadSetpoint(const char* text, double& setpoint);
    bool WriteSetpoint(int number, double setpoint);
    // d, the decimal-point code from the reading configuration register.
    bool ReadDecimalPoint(uint32_t& code);
    Reply InterpretHexValue();
    Reply InterpretBusFormat();
};

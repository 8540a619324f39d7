#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devices/InstrumentInfo.h"
#include "platform/ManualResetEvent.h"
#include "serial/CommandChannel.h"

// How long the motor driver waits, in milliseconds. Identification resets them to these and,
// for an 8-filter wheel, raises the filter, reset and home ones (a bigger wheel turns longer).
struct SmartMotorTimeouts {
    int64_t Echo = 500;
    int64_t Reply = 2000;
    int64_t Filter = 3000;
    int64_t Reset = 30000;
    int64_t Home = 30000;
    int64_t Identify = 5000;
    bool operator==(const SmartMotorTimeouts&) const = default;
};

// The SmartMotor that moves a multi-filter instrument's wheel and shutter. It runs the
// instrument's motion program; this driver sets the program's variables ("g=" filter, "d="
// shutter) and calls its numbered subroutines. The motor runs in echo mode: it sends every
// command line back, and the driver waits for that echo before it waits for the reply. A line
// that begins with "FATAL" fails the command in flight, and the driver then fetches the fault
// report ("GOSUB9"). What differs between motion program generations is kept in Quirks.
class CSmartMotor : public CCommandChannel {
public:
    using Timeouts = SmartMotorTimeouts;
    static constexpr Timeouts kDefaultTimeouts{};
    static constexpr Timeouts kEightFilterTimeouts{500, 2000, 5000, 45000, 45000, 5000};
    static constexpr size_t kMaxFaultText = 16 * 1024;
    // The motion programs' shutter subroutines: the current one and the legacy one.
    static constexpr const char* kShutterSubroutine = "GOSUB6";
    static constexpr const char* kLegacyShutterSubroutine = "GOSUB1";

    // The meaning of a reply line to one of the motor's commands, for the traffic log: the
    // filter, the shutter, the light sensor, an identification line, the home report.
    static std::optional<std::string> DescribeReply(std::string_view command,
                                                    std::string_view reply);

    CSmartMotor();
    ~CSmartMotor() override;

    bool SendCommand(const char* data, bool waitEcho, bool waitReply, int32_t length = -1) override;
    // Opens the port (no retry), starts the monitoring thread and switches the echo on; true
    // only when all three succeed. A thread already started is halted by the next ClosePort.
    bool OpenPort() override;
    void ProcessReply() override;

    // Tries settings for the length of the call: open, "RP" (or "RPA"), close.
    bool TestCommSettings(CommSettings settings) override;
    // Nothing to do; the multi-filter instrument calls it on its motor as it goes away.
    virtual void Detach() {}
    virtual bool GetFilter(int32_t& position);
    virtual bool OpenShutter();
    virtual bool CloseShutter();
    virtual bool GetShutterState(int32_t& state);

    // The same question as TestCommSettings with the driver's own settings.
    bool Probe();
    // "GOSUB100": the identification, with model 1 when the motor names none; sets the time-outs.
    bool GetDeviceInfo(::InstrumentInfo& info);
    // "g=<position>" then "GOSUB4"; true when the motor reports a position above 0.
    bool ChangeFilter(int32_t position);
    // "GOSUB0".
    bool GetLightSensor(int32_t& state);
    // "Z": restarts the motion program; then the echo is switched on again and, when the banner
    // was seen, the identification read. The result is that of the last step run; restarted
    // tells whether the "Z" itself was answered.
    bool Reset(bool* restarted = nullptr);
    // Switches the motor's echo on: "ECHO", once more if its echo does not come.
    bool EchoHandshake();

    ::InstrumentInfo InstrumentInfo;  // under ReplyLock
    int32_t InfoHeaderSeen = 0;       // under ReplyLock
    platform::ManualResetEvent EchoPendingEvent;
    platform::ManualResetEvent EchoReceivedEvent;
    platform::ManualResetEvent FaultEvent;
    std::string FaultText;  // the last fault report, lines ended CR LF; under ReplyLock
    Timeouts Timeout;

protected:
    Reply InterpretReply() override;
    bool AssembleByte(uint8_t byte) override;

    // What sets a motion program generation apart, one flag per quirk; the current one is the
    // default.
    struct Quirks {
        // The motion program's shutter subroutine.
        const char* shutterSubroutine = kShutterSubroutine;
        // Whether the shutter exchange takes CommandLock; the legacy one has always run without.
        bool shutterTakesCommandLock = true;
    };

    explicit CSmartMotor(const Quirks& quirks);

    const Quirks quirks_;

private:
    // Writes a command: it becomes the one in flight, the echo and reply are marked pending as
    // asked, and the bytes go out by deadline at the latest. False when the write failed.
    bool WriteCommand(const std::string& command, const std::string& wire, bool waitEcho,
                      bool waitReply, const platform::Deadline& deadline);
    int64_t ReplyTimeoutFor(const std::string& command) const;
    // "d=<state>" then the shutter subroutine; the state the motor reports.
    bool ShutterExchange(int32_t request, int32_t& reported);
    bool SetShutter(int32_t state);
    // Records why the motor did not report what it was asked for, and returns false: the reply
    // to command was not its answer, or was the answer with another value.
    bool NotAsAsked(const char* command, int32_t reported, int32_t asked, const char* what);
    // The reply to the command in flight had its expected form; under ReplyLock.
    bool replyMatched_ = false;
    bool Ask(bool alwaysClose, bool ownSettings, CommSettings settings);
    void FetchFaultReport();
};

#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "serial/CommandChannel.h"

// The v2.6 shutter controller box, and the reference driver of the command channel: binary
// "#0" commands carry a state and its check byte, "!0" text commands answer in CR-ended lines.
class CShutterBoxDevice : public CCommandChannel {
public:
    using StatusMap = std::map<std::wstring, std::wstring>;

    static constexpr uint32_t kSettleDelayMs = 100;
    static constexpr size_t kMaxStatusEntries = 256;

    CShutterBoxDevice() = default;
    ~CShutterBoxDevice() override;

    bool TestCommSettings(CommSettings settings) override;
    // Opens the port, reads the shutter state, closes the port.
    virtual bool Probe();
    // Sets the shutter and reads the state back; true when it reached the state asked for.
    virtual bool OpenShutter();
    virtual bool CloseShutter();
    // "#0R": 0 closed, 1 open; false when no reply or the reply failed its check byte.
    virtual bool GetShutterState(int32_t& state);
    // This generation has no light sensor: state 1, false.
    virtual bool GetLightSensorState(int32_t& state);

    // "!0D" into StatusTable, then a copy into table (unless it is StatusTable itself).
    bool ReadStatus(StatusMap& table);

    StatusMap StatusTable;
    uint32_t SettleDelayMs = kSettleDelayMs;

protected:
    Reply InterpretReply() override;
    bool AssembleByte(uint8_t byte) override;

    bool SetShutter(int32_t state);
    // "#0R": state byte and check byte summing to 255.
    Reply InterpretShutterState();
    // "!0D": a header line with a count, then key=value lines. This generation counts the header
    // as one of the lines.
    virtual Reply InterpretStatusLine();
};

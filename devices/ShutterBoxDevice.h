#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "devices/InstrumentInfo.h"
#include "serial/CommandChannel.h"

// The v2.6 shutter controller box, and the reference driver of the command channel. Binary "#0"
// commands carry a state and its check byte; "!0" text commands are answered in lines. The
// other two generations derive from it; what differs between the three is a handful of reply
// quirks, kept together in Quirks rather than spread over copied parsers.
class CShutterBoxDevice : public CCommandChannel {
public:
    using StatusMap = std::map<std::wstring, std::wstring>;

    static constexpr uint32_t kSettleDelayMs = 100;
    // A box that claims a huge status count and keeps inventing keys must not grow the table
    // without end; further new keys are counted but not kept.
    static constexpr size_t kMaxStatusEntries = 256;

    CShutterBoxDevice();
    ~CShutterBoxDevice() override;

    // Probes with the driver's own settings; the console never tests a shutter box this way.
    bool TestCommSettings(CommSettings settings) override;
    // Opens the port, reads the shutter state, closes the port.
    virtual bool Probe();
    // Sets the shutter and reads the state back; true when it reached the state asked for.
    virtual bool OpenShutter();
    virtual bool CloseShutter();
    // "#0R": 0 closed, 1 open; false when no reply or the reply failed its check byte, and the
    // caller's state is then left alone.
    virtual bool GetShutterState(int32_t& state);
    // Only the v3.0 box has a light sensor: here state 1 and false.
    virtual bool GetLightSensorState(int32_t& state);

    // "!0D" into StatusTable, then a copy into table (unless it is StatusTable itself).
    bool ReadStatus(StatusMap& table);
    // "!0IR" into InstrumentInfo, its generation decided from the shutter type, then a copy into
    // info; info is left alone when no identification came.
    bool ReadDeviceInfo(::InstrumentInfo& info);

    // The light sensor in a status table: 0 when its "bls" reads "0", 1 for anything else;
    // nothing when the table has no "bls".
    static std::optional<int32_t> LightSensorState(const StatusMap& status);
    // The meaning of a reply to one of the boxes' commands, for the traffic log: the shutter
    // state, the light sensor, a threshold, an identification line.
    static std::optional<std::string> DescribeReply(std::string_view command,
                                                    std::string_view reply);

    ::InstrumentInfo InstrumentInfo;  // from the last "!0IR"; read and written under ReplyLock
    StatusMap StatusTable;            // from the last "!0D"; under ReplyLock
    uint32_t SettleDelayMs = kSettleDelayMs;

protected:
    // The v3.0 box's threshold queries: the active threshold and the saved one.
    static constexpr const char* kThresholdQuery = "!0TH?";
    static constexpr const char* kSavedThresholdQuery = "!0TM?";

    // What sets a generation's replies apart, one flag per quirk; the v2.6 box is the default.
    struct Quirks {
        // Legacy boxes answer only the shutter commands; every other line is dropped.
        bool textReplies = true;
        // A state byte other than 0 or 1 reads as -1; the legacy parser leaves the byte count.
        bool unknownStateIsMinusOne = true;
        // The "!0D" header counts itself as one of the lines (v2.6) or not (v3.0).
        bool statusHeaderCountsItself = true;
        // Status keys and values trimmed (v2.6) or kept exactly (v3.0: raw "rbk", "lsa" bytes).
        bool statusTrimmed = true;
        // v3.0: "!0D" lines end at line feed with raw two-byte values; threshold queries.
        bool lightSensorProtocol = false;
    };

    explicit CShutterBoxDevice(const Quirks& quirks);

    Reply InterpretReply() override;
    bool AssembleByte(uint8_t byte) override;

    bool SetShutter(int32_t state);

    const Quirks quirks_;

private:
    Reply InterpretShutterState();
    Reply InterpretIdentificationLine();
    Reply InterpretStatusLine();
    Reply InterpretThreshold();
    Reply InterpretSavedThreshold();
    bool AssembleStatusByte(uint8_t byte);
};

#pragma once

#include <cstdint>

#include "devices/ShutterBoxDevice.h"

// The v3.0 shutter controller: the v2.6 protocol plus a light sensor. The sensor trips (and the
// box closes the shutter) when the light falls below the active threshold; the threshold can be
// stepped, set, saved to the box's memory and reloaded, and the saved one write-protected.
class CShutterController3 : public CShutterBoxDevice {
public:
    // The steps the box takes the active threshold by: 6 dB or one count, up or down.
    enum class ThresholdStep { Up6dB, Down6dB, Up1, Down1 };

    CShutterController3();
    ~CShutterController3() override;

    // From the "bls" status line: 0 when the box reports "0", else 1. The result is that of the
    // status read.
    bool GetLightSensorState(int32_t& state) override;

    // "!0WP" and a byte: 0 protects the saved threshold, 1 allows writing it.
    bool SetWriteProtect(bool protect);
    // "!0TR": reload the saved threshold into the active one; no reply.
    bool ReloadThreshold();
    // "!0TH?" (the active threshold) and "!0TM?" (the saved one), under CommandLock; value is
    // left alone when no reply came.
    bool ReadActiveThreshold(int32_t& value);
    bool ReadSavedThreshold(int32_t& value);
    // "!0TH6+", "!0TH6-", "!0TH+" or "!0TH-"; no reply. Like "!0TR" and "!0TS" it goes out
    // without CommandLock: the threshold tools are the port's only users while they send it.
    bool StepThreshold(ThresholdStep step);
    // "!0TS": the active threshold into the box's memory; no reply.
    bool SaveThreshold();
    // "#0T" and four upper-case hex digits, then read back with "!0TH?". True when the box
    // reports the value written, or does not answer the read-back at all.
    bool SetThreshold(uint16_t value);

    // Set by SetWriteProtect; the driver does not read it.
    int32_t WriteProtected = 1;
    // Kept by the threshold tool while it has the port open; the driver does not read it.
    int32_t PortConnected = 0;

private:
    // A threshold query under CommandLock: value from its reply, left alone when none came.
    bool ReadThresholdReply(const char* query, int32_t& value);
};

#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sim/SimulatedDevice.h"

namespace sim {

// A shutter controller box, any of its three generations, as the program sees it on the wire.
//
// The box has no command terminator: it recognises commands by their bytes ("#0S" and two more,
// "#0R", "!0D", ...) and throws away a byte that cannot start or continue a command it knows.
// The legacy box knows only "#0S" and "#0R"; v2.6 adds identification, status and the banner;
// v3.0 adds the light sensor and its threshold.
//
// The light-sensor model (v3.0): the light falling on the sensor sets a trip point, in the same
// counts as the threshold (TripPoint() == the light level). While the shutter is commanded open,
// the box keeps it open as long as the active threshold is below the trip point and closes it
// while the threshold is at or above it; lowering the threshold again opens it. So the state is a
// monotonic step in the threshold, and the one threshold an automatic search must find is the
// trip point itself. A 6 dB step doubles or halves the threshold, one step moves it by one count;
// both stop at the ends of 0x0001..0xFFFF. "bls" reports 1 while the sensor sees light above the
// threshold (threshold below the trip point), "rbk" the active threshold and "lsa" the light
// level, each as two raw bytes, high byte first.
class CShutterControllerSim : public CSimulatedDevice {
public:
    enum class Generation { Legacy = 1, V26 = 2, V30 = 3 };

    static constexpr uint16_t kLowestThreshold = 0x0400;

    CShutterControllerSim(int portNumber, std::string portDirectory,
                          Generation generation = Generation::V26);
    ~CShutterControllerSim() override;

    Generation DeviceGeneration() const { return generation_; }

    // The state the box reports: open only when commanded open and, on v3.0, not tripped.
    int32_t ShutterState() const;
    // Commands the shutter as "#0S" does.
    void SetShutterState(int32_t state);
    void SetIdentification(std::map<std::string, std::string> fields);
    // Status lines for "!0D", besides the light-sensor lines a v3.0 box adds itself.
    void SetStatus(std::map<std::string, std::string> fields);
    // Answer "#0R" with a check byte that does not add up.
    void SetCorruptCheckByte(bool corrupt);
    // Answer "#0R" with this state byte (and a matching check byte) whatever the shutter does.
    void ForceStateByte(int byte);  // -1: no forcing

    void SetLightLevel(uint16_t level);
    // The light falls to level once the box has answered this many more "#0R" (a cloud passes).
    void DimAfterStateReads(int reads, uint16_t level);
    uint16_t TripPoint() const;
    uint16_t ActiveThreshold() const;
    void SetActiveThreshold(uint16_t value);
    uint16_t SavedThreshold() const;
    void SetSavedThreshold(uint16_t value);
    bool WriteProtected() const;
    // Answer nothing to "!0TH?" (a box with a broken threshold read-back).
    void SetThresholdQueryMute(bool mute);
    // Report this value to "!0TH?" instead of the real one.
    void ForceThresholdReadBack(int value);  // -1: no forcing

    // Complete commands the box has recognised, and the last one.
    uint64_t CommandsSeen() const;
    std::string LastCommand() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    bool Knows(std::string_view pattern) const;
    bool IsPrefixOfCommand(const std::string& bytes) const;
    // Carries out a complete command; false when the bytes are not one yet.
    bool Execute(const std::string& command);
    std::string StatusReply() const;
    int32_t ReportedStateLocked() const;

    const Generation generation_;
    mutable std::mutex stateMutex_;
    std::string pending_;
    int32_t commanded_ = 0;
    bool corruptCheck_ = false;
    int forcedState_ = -1;
    uint16_t light_ = 0x3000;
    int dimAfterReads_ = 0;
    uint16_t dimLevel_ = 0;
    uint16_t active_ = kLowestThreshold;
    uint16_t saved_ = kLowestThreshold;
    bool writeProtected_ = true;
    bool thresholdMute_ = false;
    int forcedReadBack_ = -1;
    uint64_t commands_ = 0;
    std::string lastCommand_;
    std::map<std::string, std::string> identification_;
    std::map<std::string, std::string> status_;
};

}  // namespace sim

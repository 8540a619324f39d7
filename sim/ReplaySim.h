#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serial/TraceFormat.h"
#include "sim/SimulatedDevice.h"

namespace sim {

// A device that answers as a recorded one did, from a session trace (serial/TraceFormat.h). A
// command is the bytes the program sent in one write; each time one comes, the device sends the
// next of the answers the recorded device gave to it, in the order they were recorded and from
// the first again after the last, every piece at its recorded delay after the command (or at
// once, fast). A command never recorded gets no answer, as a real device would give none, and is
// told to the unknown handler once.
//
// The device serves the trace's traffic on its own port number; a trace with traffic on one port
// only is served whatever number that was.
class CReplaySim : public CSimulatedDevice {
public:
    CReplaySim(int portNumber, std::string portDirectory,
               const std::vector<trace::Traffic>& traffic, bool fast);
    ~CReplaySim() override;

    // Set before Start; called on the device's thread with the command's bytes.
    void SetUnknownHandler(std::function<void(const std::string& command)> handler);
    // The recorded commands this device knows.
    size_t CommandsKnown() const { return replies_.size(); }
    // Commands answered so far (an answer that was recorded empty counts too).
    uint64_t Answered() const { return answered_.load(); }

protected:
    void OnReceive(uint8_t byte) override;
    void OnReceiveEnd() override;

private:
    bool Known(const std::string& bytes) const { return replies_.contains(bytes); }
    // Whether bytes begin a recorded command, and whether a longer one than bytes begins so.
    bool Begins(const std::string& bytes) const;
    bool BeginsLonger(const std::string& bytes) const;
    void Answer(const std::string& command);

    const bool fast_;
    trace::RecordedReplies replies_;
    std::function<void(const std::string&)> unknownHandler_;
    std::atomic<uint64_t> answered_{0};
    // The device thread's own.
    std::map<std::string, size_t> next_;
    std::set<std::string> told_;
    std::string command_;  // the bytes of a recorded command so far
    std::string unknown_;  // bytes that began no recorded command, until the read ends
};

}  // namespace sim

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/AutoResetEvent.h"
#include "platform/ManualResetEvent.h"

namespace sim {

// A device on the master side of a pseudo-terminal, published as COMn in a port directory, so
// that the program's real port code talks to it end to end. A subclass models the device: it
// sees every byte the program writes (OnReceive, on the device's own thread) and answers with
// Reply. The base adds what a bench throws at a program: answers paced at the baud rate the
// program set, delayed or dropped answers, and hang-ups (an adapter pulled out).
class CSimulatedDevice {
public:
    enum class Pacing {
        Off,       // answers go out at once
        PortBaud,  // one byte per character time at the line settings the program applied
    };

    CSimulatedDevice(int portNumber, std::string portDirectory);
    CSimulatedDevice(const CSimulatedDevice&) = delete;
    CSimulatedDevice& operator=(const CSimulatedDevice&) = delete;
    virtual ~CSimulatedDevice();

    // Creates the pseudo-terminal, publishes COMn and starts the device thread. A subclass
    // calls it at the end of its constructor, or the owner right after construction.
    bool Start();
    // Stops the device thread, unpublishes COMn and closes the pseudo-terminal.
    void Stop();

    // Pulls the adapter out now: the program's port sees a hang-up and COMn disappears.
    void HangUp();
    // Plugs a fresh adapter in under the same COMn.
    bool PlugIn();
    bool Connected() const;
    // Holds the line from the program, as flow control does, or lets it go again: while held,
    // the program's writes do not drain. False when there is no line to hold.
    bool HoldLine(bool held);

    void SetPacing(Pacing pacing);
    // Every answer goes out this much later.
    void SetReplyDelay(std::chrono::milliseconds delay);
    // The next count answers are swallowed.
    void DropReplies(int count);
    // Instead of the next answer, the adapter is pulled out.
    void HangUpOnNextReply();
    // The next answer goes out as change makes it (garbage, half of it, a bad check byte, the
    // answer to another command); after that, answers are the device's own again. With skip,
    // that many answers go out unchanged first (a motor's echoes ahead of its answer).
    void ChangeNextReply(std::function<std::string(std::string_view)> change, int skip = 0);
    // Sends bytes nobody asked for, now (garbage, endless lines, late replies).
    void Inject(std::string_view bytes);
    // Sends pattern over and over, as fast as the terminal takes it, until StopFlood: a device
    // that talks faster than anyone reads (a USB device has no baud rate to hold it back).
    // Answers still go out, between the flood's writes.
    void Flood(std::string pattern);
    void StopFlood();
    uint64_t FloodedBytes() const;

    int PortNumber() const { return portNumber_; }
    std::string PortPath() const;   // the COMn entry
    std::string SlavePath() const;  // the pseudo-terminal the entry points at

    // Bytes received from the program, in total and the most recent ones (up to 64 KiB).
    uint64_t ReceivedCount() const;
    std::string ReceivedTail() const;
    void ClearReceived();
    // Waits until the device has received at least count bytes in total.
    bool WaitForReceived(uint64_t count, std::chrono::milliseconds timeout) const;
    // Waits until every queued answer and injected byte has been written to the terminal.
    bool WaitUntilSent(std::chrono::milliseconds timeout) const;
    // Answers written so far (after faults, so dropped ones do not count).
    uint64_t RepliesSent() const;

protected:
    // One byte from the program, on the device thread.
    virtual void OnReceive(uint8_t byte) = 0;
    // After the last byte of one read from the terminal: what the program wrote at once comes in
    // one read as a rule, so this is where a write of the program's ends.
    virtual void OnReceiveEnd() {}
    // Queues an answer; the fault settings decide what becomes of it. extraDelay is the time the
    // device itself takes (a motor move), on top of any injected delay; answers still go out in
    // the order they were queued.
    void Reply(std::string_view bytes,
               std::chrono::milliseconds extraDelay = std::chrono::milliseconds(0));
    // The baud rate the program set on the line (0 when unknown).
    int LineBaud() const;

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string bytes;
        bool hangUp = false;
    };

    bool OpenPseudoTerminal();
    void ClosePseudoTerminal();
    void Run();
    void FlushDue(std::chrono::steady_clock::time_point now);
    void FloodSome();
    std::chrono::nanoseconds CharacterTime() const;
    int NextTimeoutMs(std::chrono::steady_clock::time_point now) const;

    const int portNumber_;
    const std::string portDirectory_;

    mutable std::mutex mutex_;
    mutable std::condition_variable receivedCv_;
    mutable std::condition_variable sentCv_;
    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
    std::thread thread_;
    platform::ManualResetEvent stop_;
    platform::AutoResetEvent wake_;
    std::deque<Pending> output_;
    std::chrono::steady_clock::time_point lineFreeAt_{};
    // Paced: when the byte being handed to OnReceive has come in whole, and when the line from
    // the program is free again. A device cannot answer a command before it has heard it.
    std::chrono::steady_clock::time_point receivedAt_{};
    std::chrono::steady_clock::time_point receiveLineFreeAt_{};
    std::function<std::string(std::string_view)> changeNext_;
    int changeSkip_ = 0;
    Pacing pacing_ = Pacing::Off;
    std::chrono::milliseconds delay_{0};
    int dropCount_ = 0;
    bool hangUpNext_ = false;
    uint64_t receivedCount_ = 0;
    uint64_t repliesSent_ = 0;
    std::string floodPattern_;
    size_t floodAt_ = 0;
    uint64_t floodedBytes_ = 0;
    std::string receivedTail_;
};

}  // namespace sim

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/ManualResetEvent.h"

// The command-channel state every device driver has, and the five operations through which a
// driver sends one command at a time and has its reply assembled, parsed and handed back.
//
// The caller writes a command and, when it wants a reply, blocks on ReplyReadyEvent; the port's
// monitoring thread feeds each received byte to ReceiveChar, which assembles reply lines and
// calls ProcessReply, which parses them against CommandInFlight and signals the caller.
//
// The contract of every driver (CCommandChannel and the drivers in devices/):
//
// Results. An operation returns true when it did what it says, false when it did not. Nothing
// throws, nothing is shown. On false the port's LastFailure() says why (platform::FailureKind):
// the open's cause (no such port, busy, no permission, ...), a write refused or not drained in
// time, no reply within the time-out, a reply not understood (with what came), a fault the
// device reported or a state it did not reach, the device gone. It is recorded where the
// failure happens and kept until the next failure. A line setting the system refuses is recorded
// too, though the open it happens in succeeds.
//
// Out-parameters are written on success only, and keep the caller's value on failure, except
// where a driver's operation documents otherwise. Those exceptions are the devices' own and are
// kept as they are:
//   - CShutterBoxDevice::GetLightSensorState (no sensor) writes 1 and returns false;
//   - CShutterController3::GetLightSensorState writes the state whatever the status read gave;
//   - CShutterBoxDevice::ReadStatus copies the status table read so far, even on failure;
//   - COmegaTempController::ReadRegister writes 0xFFFFFFFF when no reply was read.
// Some operations are true although the device did not confirm: CShutterController3::
// SetThreshold when the read-back is not answered, COmegaTempController::SetSetpoint and
// ResetController once the command went out; their documentation says so.
//
// Threads. Operations are called from any thread, one operation at a time per driver: each takes
// the driver's CommandLock for its whole exchange, except those documented as taking none (the
// v3.0 box's threshold steps, save and reload; the Omega's register read and write; the legacy
// motor's shutter exchange), whose callers serialise them. ReceiveChar, ProcessReply and the
// reply parsers run on the port's monitoring thread only. LastFailure() may be read from any
// thread.
//
// Lock order, everywhere: the driver's CommandLock (callers only), ReceiveLock, ReplyLock.
class CSerialDevice {
public:
    CSerialDevice() = default;
    CSerialDevice(const CSerialDevice&) = delete;
    CSerialDevice& operator=(const CSerialDevice&) = delete;
    virtual ~CSerialDevice() = default;

    // Interprets the line in ReceiveLine against the command in flight.
    virtual void ProcessReply() = 0;
    // Writes a command (length -1: data is NUL-terminated text; else exactly length bytes,
    // NUL bytes included) and, with waitReply, waits for its reply. True on success.
    virtual bool SendCommand(const char* data, bool waitEcho, bool waitReply,
                             int32_t length = -1) = 0;
    virtual bool OpenPort() = 0;
    virtual bool ClosePort() = 0;
    // One received byte, from the monitoring thread, in arrival order.
    virtual void ReceiveChar(uint8_t byte) = 0;

    // Signalled while a command that expects a reply is in flight; lines that arrive while it
    // is not are unsolicited and dropped.
    platform::ManualResetEvent ReplyPendingEvent;
    // Signalled when the reply to the command in flight has been parsed.
    platform::ManualResetEvent ReplyReadyEvent;
    // The number taken from the reply; during a multi-line reply the lines still expected;
    // during a fixed-length binary reply the bytes received so far. The caller zeroes it before
    // a command while stray bytes may still arrive, hence atomic.
    std::atomic<int32_t> ReplyValue{0};
    // A real number taken from the reply (temperature controllers).
    std::atomic<double> ReplyNumber{0.0};
    // An identification text taken from a reply (temperature controllers); under ReplyLock.
    std::wstring IdentityText;
    // The reply was recognised and passed its check; in a multi-line reply, header seen.
    std::atomic<int32_t> ReplyValid{0};
    std::recursive_mutex ReceiveLock;
    std::recursive_mutex ReplyLock;
};

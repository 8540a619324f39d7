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

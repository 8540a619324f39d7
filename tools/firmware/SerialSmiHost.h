#pragma once

#include <cstdint>
#include <memory>

#include "tools/firmware/Smi.h"

// How long the host waits, in milliseconds.
struct SmiTimeouts {
    int64_t Echo = 500;        // the echo of a command
    int64_t Reply = 2000;      // a reply line ("RCKS")
    int64_t LoadStart = 5000;  // the go-ahead after "LOAD": the motor may clear its memory first
    int64_t Block = 2000;      // each block of an upload, each acknowledgement of a download
};

class CSmartMotorSession;

// The SMI host over the SmartMotor's own serial protocol, for the one motor on the port.
//
// GetMotor opens the port and runs: "ECHO" to every motor (address byte 80), whose echo shows a
// motor is there; "SADDR1" to every motor, then "ECHO_OFF" to motor 1 (address byte 81), both
// awaited as echoes, so that from then on nothing comes back but answers; "RCKS" to motor 1,
// whose checksum report shows it answers under its address. The motor then runs without echo,
// as the upload needs: in echo mode the motor sends back each 06 that asks for the next block
// among the program's own bytes. The port stays open until the host and every motor it gave
// out are gone.
//
// BackupProgram: "UP", then each block of 8 bytes asked for with 06 until the end byte FF.
// DownloadProgram: "LOAD", the go-ahead 06, the program in blocks of 32 bytes each
// acknowledged with 06 and not echoed (a shorter last block is not acknowledged), then FF FF 20
// and "RCKS", whose report must end in P. A download that breaks off still sends FF FF 20, so
// that the motor leaves its loading mode and takes commands again. Every write is bounded by
// the time-out of the answer it waits for.
class CSerialSmiHost : public ISMIHost, public ISMICMotion, public ISMIPath {
public:
    explicit CSerialSmiHost(SmiTimeouts timeouts = {});
    ~CSerialSmiHost() override;

    ISMICMotion* QueryCMotion() override { return this; }
    ISMIPath* QueryPath() override { return this; }
    SmiStatus SetNotify(SmiNotifyCallback notify) override;
    SmiStatus SetPortName(const std::wstring& name) override;
    SmiStatus SetBaudRate(int32_t baud) override;
    SmiStatus HostSetupQuery(int32_t& option) override;
    SmiStatus HostSetupOption(int32_t option) override;
    SmiStatus GetMotor(int32_t number, std::unique_ptr<ISMIMotor>& motor) override;

private:
    std::shared_ptr<CSmartMotorSession> session_;
};

// The port number of a "Com<n>" port name ("com" in any case); 0 when it is not one.
int32_t SmiPortNumber(const std::wstring& name);

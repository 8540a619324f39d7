#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sim/SimulatedDevice.h"

namespace sim {

// A shutter controller box as the program sees it on the wire. The box has no command
// terminator: it recognises commands by their bytes ("#0S" and two more, "#0R", "!0D", ...), and
// throws away a byte that cannot start or continue any command it knows.
class CShutterControllerSim : public CSimulatedDevice {
public:
    CShutterControllerSim(int portNumber, std::string portDirectory);
    ~CShutterControllerSim() override;

    int32_t ShutterState() const;
    void SetShutterState(int32_t state);
    // The identification lines ("key=value") the box reports to "!0IR".
    void SetIdentification(std::map<std::string, std::string> fields);
    // The status lines ("key=value") the box reports to "!0D".
    void SetStatus(std::map<std::string, std::string> fields);
    // Answer "#0R" with a check byte that does not add up.
    void SetCorruptCheckByte(bool corrupt);
    // Number of complete commands the box has recognised.
    uint64_t CommandsSeen() const;

protected:
    void OnReceive(uint8_t byte) override;

private:
    // True when the pending bytes form a complete command, which is then carried out.
    bool Execute(const std::string& command);
    bool IsPrefixOfCommand(const std::string& bytes) const;

    mutable std::mutex stateMutex_;
    std::string pending_;
    int32_t shutter_ = 0;
    bool corruptCheck_ = false;
    uint64_t commands_ = 0;
    std::map<std::string, std::string> identification_;
    std::map<std::string, std::string> status_;
};

}  // namespace sim

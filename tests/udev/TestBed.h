#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/ShutterControllerSim.h"
#include "sim/UsbTestBed.h"

namespace testing_support {

// A umockdev test bed for each test, whose adapters and UARTs lead to simulated v3.0 shutter
// controllers, with a port folder and a configuration folder of the test's own (so the port map
// starts empty).
class UdevTestBed : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Plug(const sim::UsbAdapter& adapter = {});
    void AddUart(const std::string& tty, bool present);
    void Unplug(const std::string& syspath) { bed_->Unplug(syspath); }
    std::string MapFile() const { return config_ + "/Pravik/ports"; }

private:
    std::string Simulate();  // a simulated device's terminal, for a node to lead to

    std::unique_ptr<sim::CUsbTestBed> bed_;
    std::string config_;
    std::string ports_;
    std::vector<std::unique_ptr<sim::CShutterControllerSim>> devices_;
};

}  // namespace testing_support

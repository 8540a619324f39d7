#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

// Port numbers the tests publish simulated devices under: above every default mapping, so a
// missing entry can never fall through to a real /dev/ttyS* on the machine running the tests.
inline constexpr int kFirstTestPort = 201;

// Gives each test a folder of its own, removed afterwards, as port directory (PRAVIK_PORT_DIR) and
// lock folder (PRAVIK_LOCK_DIR). COM1-COM96 in it point nowhere, so that a listing or a scan from
// COM1 up never opens this machine's /dev/ttyS*, ttyUSB* or ttyACM* (a ttyS may be its console).
class PortDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& PortDir() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace testing_support

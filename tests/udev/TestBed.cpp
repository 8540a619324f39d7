#include "udev/TestBed.h"

#include <stdlib.h>

#include <filesystem>

#include "support/TestPortDirectory.h"

namespace testing_support {

namespace {

std::string TemporaryFolder() {
    char pattern[] = "/tmp/pravik-udev-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? made : "";
}

}  // namespace

void UdevTestBed::SetUp() {
    bed_ = std::make_unique<sim::CUsbTestBed>();
    ASSERT_TRUE(bed_->Valid()) << "run without libumockdev-preload";
    config_ = TemporaryFolder();
    ports_ = TemporaryFolder();
    ASSERT_FALSE(config_.empty() || ports_.empty());
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    ::setenv("PRAVIK_PORT_DIR", ports_.c_str(), 1);
    ::setenv("PRAVIK_LOCK_DIR", ports_.c_str(), 1);  // never the machine's /run/lock
}

void UdevTestBed::TearDown() {
    devices_.clear();
    bed_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(config_, ignored);
    std::filesystem::remove_all(ports_, ignored);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("PRAVIK_PORT_DIR");
    ::unsetenv("PRAVIK_LOCK_DIR");
}

std::string UdevTestBed::Simulate() {
    devices_.push_back(std::make_unique<sim::CShutterControllerSim>(
        kFirstTestPort + static_cast<int>(devices_.size()), ports_ + "/sims",
        sim::CShutterControllerSim::Generation::V30));
    EXPECT_TRUE(devices_.back()->Start());
    return devices_.back()->SlavePath();
}

std::string UdevTestBed::Plug(const sim::UsbAdapter& adapter) {
    return bed_->Plug(adapter, Simulate());
}

void UdevTestBed::AddUart(const std::string& tty, bool present) {
    bed_->AddUart(tty, present, Simulate());
}

}  // namespace testing_support

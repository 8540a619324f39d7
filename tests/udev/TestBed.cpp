#include "udev/TestBed.h"

#include <fcntl.h>
#include <stdlib.h>
#include <umockdev.h>
#include <unistd.h>

#include <filesystem>

namespace testing_support {

namespace {

constexpr const char* kEnd = nullptr;

struct GFree {
    void operator()(gchar* p) const { g_free(p); }
};
using GText = std::unique_ptr<gchar, GFree>;

std::string TemporaryFolder() {
    char pattern[] = "/tmp/pravik-udev-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? made : "";
}

}  // namespace

void UdevTestBed::SetUp() {
    // The test bed first: whether the preload is there can only be asked once one exists.
    bed_ = umockdev_testbed_new();
    ASSERT_NE(bed_, nullptr);
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run without libumockdev-preload";
    root_ = GText(umockdev_testbed_get_root_dir(bed_)).get();
    config_ = TemporaryFolder();
    ports_ = TemporaryFolder();
    ASSERT_FALSE(config_.empty() || ports_.empty());
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    ::setenv("PRAVIK_PORT_DIR", ports_.c_str(), 1);
    std::filesystem::create_directories(root_ + "/dev/serial/by-id");
    std::filesystem::create_directories(root_ + "/dev/serial/by-path");
}

void UdevTestBed::TearDown() {
    devices_.clear();
    if (bed_ != nullptr) {
        g_object_unref(bed_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(config_, ignored);
    std::filesystem::remove_all(ports_, ignored);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("PRAVIK_PORT_DIR");
}

std::string UdevTestBed::Simulate() {
    devices_.push_back(std::make_unique<sim::CShutterControllerSim>(
        kFirstTestPort + static_cast<int>(devices_.size()), ports_ + "/sims",
        sim::CShutterControllerSim::Generation::V30));
    EXPECT_TRUE(devices_.back()->Start());
    return devices_.back()->SlavePath();
}

void UdevTestBed::Node(const std::string& name, const std::string& target) {
    const std::string node = root_ + name;
    std::filesystem::remove(node);
    std::filesystem::create_symlink(target, node);
}

std::string UdevTestBed::Plug(const Adapter& a) {
    const std::string usbName = "pci0000:00/0000:00:14.0/usb1/" + a.socket;
    const GText usb(umockdev_testbed_add_device(
        bed_, "usb", usbName.c_str(), nullptr, "idVendor", a.vendorId.c_str(), "idProduct",
        a.productId.c_str(), "serial", a.serial.c_str(), "manufacturer", a.manufacturer.c_str(),
        "product", a.product.c_str(), kEnd, "DEVTYPE", "usb_device", kEnd));
    const std::string interfaceName = a.socket + ":1.0";
    const GText interface(umockdev_testbed_add_device(bed_, "usb", interfaceName.c_str(), usb.get(),
                                                      kEnd, "DEVTYPE", "usb_interface", kEnd));
    umockdev_testbed_set_attribute_link(bed_, interface.get(), "driver",
                                        "../../../../../../bus/usb/drivers/ftdi_sio");
    const GText port(umockdev_testbed_add_device(bed_, "usb-serial", a.tty.c_str(), interface.get(),
                                                 kEnd, kEnd));
    // What udevd's rules would have made: the links, named as 60-serial.rules names them.
    const std::string byId = "/dev/serial/by-id/usb-" + a.manufacturer + "_" + a.product +
                             (a.serial.empty() ? "" : "_" + a.serial) + "-if00-port0";
    const std::string byPath =
        "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + a.socket.substr(2) + ":1.0-port0";
    std::string links = byPath;
    std::string idName = byId;
    for (char& c : idName) {
        c = c == ' ' ? '_' : c;
    }
    links += " " + idName;
    const std::string ttyName = "tty/" + a.tty;
    const std::string devName = "/dev/" + a.tty;
    const GText tty(umockdev_testbed_add_device(
        bed_, "tty", ttyName.c_str(), port.get(), "dev", "188:0", kEnd, "DEVNAME", devName.c_str(),
        "ID_VENDOR_ID", a.vendorId.c_str(), "ID_MODEL_ID", a.productId.c_str(), "ID_SERIAL_SHORT",
        a.serial.c_str(), "ID_USB_DRIVER", "ftdi_sio", "DEVLINKS", links.c_str(), kEnd));
    Node(devName, Simulate());
    Node(idName, "../../" + a.tty);
    Node(byPath, "../../" + a.tty);
    // Children first: removing a device leaves its children's class and bus links behind.
    nodes_.push_back({tty.get(),
                      {tty.get(), port.get(), interface.get(), usb.get()},
                      {devName, idName, byPath}});
    return tty.get();
}

void UdevTestBed::AddUart(const std::string& tty, bool present) {
    const GText pnp(
        umockdev_testbed_add_device(bed_, "pnp", ("pnp0/00:0" + tty).c_str(), nullptr, kEnd, kEnd));
    umockdev_testbed_set_attribute_link(bed_, pnp.get(), "driver",
                                        "../../../bus/pnp/drivers/serial");
    const std::string devName = "/dev/" + tty;
    const GText node(umockdev_testbed_add_device(bed_, "tty", ("tty/" + tty).c_str(), pnp.get(),
                                                 "type", present ? "4" : "0", kEnd, "DEVNAME",
                                                 devName.c_str(), kEnd));
    // Never the machine's own /dev/ttyS*: the node leads to a simulated device.
    Node(devName, Simulate());
}

void UdevTestBed::Unplug(const std::string& syspath) {
    // udev builds the event from sysfs, so it goes out before the device does.
    umockdev_testbed_uevent(bed_, syspath.c_str(), "remove");
    for (const auto& [path, chain, files] : nodes_) {
        if (path == syspath) {
            for (const std::string& device : chain) {
                umockdev_testbed_remove_device(bed_, device.c_str());
            }
            for (const std::string& file : files) {
                std::filesystem::remove(root_ + file);
            }
        }
    }
}

}  // namespace testing_support

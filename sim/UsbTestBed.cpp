#include "sim/UsbTestBed.h"

#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <memory>

namespace sim {

namespace {

constexpr const char* kEnd = nullptr;

struct GFree {
    void operator()(gchar* p) const { g_free(p); }
};
using GText = std::unique_ptr<gchar, GFree>;

}  // namespace

void RestartWithTestBedPreload(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) {
        return;
    }
    // Appended, so that a sanitizer's runtime already there stays first. AddressSanitizer checks
    // that it comes first in the process, which the preload library defeats.
    const std::string value = preload != nullptr && *preload != '\0'
                                  ? std::string(preload) + ":libumockdev-preload.so.0"
                                  : std::string("libumockdev-preload.so.0");
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options =
        std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::perror("cannot start again with libumockdev-preload");
    std::_Exit(127);
}

struct CUsbTestBed::Bed {
    UMockdevTestbed* bed = umockdev_testbed_new();
    Bed() = default;
    Bed(const Bed&) = delete;
    Bed& operator=(const Bed&) = delete;
    ~Bed() {
        if (bed != nullptr) {
            g_object_unref(bed);
        }
    }
};

CUsbTestBed::CUsbTestBed() : bed_(std::make_unique<Bed>()) {
    // Whether the preload is there can only be asked once a test bed exists.
    valid_ = bed_->bed != nullptr && umockdev_in_mock_environment();
    if (!valid_) {
        return;
    }
    root_ = GText(umockdev_testbed_get_root_dir(bed_->bed)).get();
    std::error_code ignored;
    std::filesystem::create_directories(root_ + "/dev/serial/by-id", ignored);
    std::filesystem::create_directories(root_ + "/dev/serial/by-path", ignored);
}

CUsbTestBed::~CUsbTestBed() = default;

void CUsbTestBed::Node(const std::string& name, const std::string& target) {
    const std::string node = root_ + name;
    std::error_code ignored;
    std::filesystem::remove(node, ignored);
    std::filesystem::create_symlink(target, node, ignored);
}

std::string CUsbTestBed::Plug(const UsbAdapter& a, const std::string& terminal) {
    const std::string usbName = "pci0000:00/0000:00:14.0/usb1/" + a.socket;
    const GText usb(umockdev_testbed_add_device(
        bed_->bed, "usb", usbName.c_str(), nullptr, "idVendor", a.vendorId.c_str(), "idProduct",
        a.productId.c_str(), "serial", a.serial.c_str(), "manufacturer", a.manufacturer.c_str(),
        "product", a.product.c_str(), kEnd, "DEVTYPE", "usb_device", kEnd));
    const std::string interfaceName = a.socket + ":1.0";
    const GText interface(umockdev_testbed_add_device(bed_->bed, "usb", interfaceName.c_str(),
                                                      usb.get(), kEnd, "DEVTYPE", "usb_interface",
                                                      kEnd));
    umockdev_testbed_set_attribute_link(bed_->bed, interface.get(), "driver",
                                        "../../../../../../bus/usb/drivers/ftdi_sio");
    const GText port(umockdev_testbed_add_device(bed_->bed, "usb-serial", a.tty.c_str(),
                                                 interface.get(), kEnd, kEnd));
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
        bed_->bed, "tty", ttyName.c_str(), port.get(), "dev", "188:0", kEnd, "DEVNAME",
        devName.c_str(), "ID_VENDOR_ID", a.vendorId.c_str(), "ID_MODEL_ID", a.productId.c_str(),
        "ID_SERIAL_SHORT", a.serial.c_str(), "ID_USB_DRIVER", "ftdi_sio", "DEVLINKS", links.c_str(),
        kEnd));
    Node(devName, terminal);
    Node(idName, "../../" + a.tty);
    Node(byPath, "../../" + a.tty);
    // Children first: removing a device leaves its children's class and bus links behind.
    plugged_.push_back({tty.get(),
                        {tty.get(), port.get(), interface.get(), usb.get()},
                        {devName, idName, byPath}});
    return tty.get();
}

void CUsbTestBed::AddUart(const std::string& tty, bool present, const std::string& terminal) {
    const GText pnp(umockdev_testbed_add_device(bed_->bed, "pnp", ("pnp0/00:0" + tty).c_str(),
                                                nullptr, kEnd, kEnd));
    umockdev_testbed_set_attribute_link(bed_->bed, pnp.get(), "driver",
                                        "../../../bus/pnp/drivers/serial");
    const std::string devName = "/dev/" + tty;
    const GText node(umockdev_testbed_add_device(bed_->bed, "tty", ("tty/" + tty).c_str(),
                                                 pnp.get(), "type", present ? "4" : "0", kEnd,
                                                 "DEVNAME", devName.c_str(), kEnd));
    // Never the machine's own /dev/ttyS*: the node leads to a simulated device.
    Node(devName, terminal);
}

void CUsbTestBed::Unplug(const std::string& syspath) {
    const auto it = std::find_if(plugged_.begin(), plugged_.end(),
                                 [&](const Plugged& p) { return p.tty == syspath; });
    if (it == plugged_.end()) {
        return;
    }
    // udev builds the event from sysfs, so it goes out before the device does.
    umockdev_testbed_uevent(bed_->bed, syspath.c_str(), "remove");
    for (const std::string& device : it->chain) {
        umockdev_testbed_remove_device(bed_->bed, device.c_str());
    }
    std::error_code ignored;
    for (const std::string& file : it->files) {
        std::filesystem::remove(root_ + file, ignored);
    }
    plugged_.erase(it);
}

}  // namespace sim

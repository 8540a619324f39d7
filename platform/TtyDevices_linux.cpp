#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/TtyDevices.h"

namespace platform {

namespace {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
using Udev = std::unique_ptr<udev, UdevUnref>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevMonitor = std::unique_ptr<udev_monitor, UdevUnref>;

std::string Text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

std::string Property(udev_device* d, const char* key) {
    return Text(udev_device_get_property_value(d, key));
}

std::string Attribute(udev_device* d, const char* key) {
    std::string value = Text(udev_device_get_sysattr_value(d, key));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) {
        value.pop_back();
    }
    return value;
}

// The first ancestor that is hardware. Kernels from 6.5 on put the serial core's own
// "serial-base" devices between a UART and the device it belongs to; they say nothing about it.
// Parents are borrowed from the child and must not be unreferenced.
udev_device* HardwareParent(udev_device* d) {
    for (udev_device* p = udev_device_get_parent(d); p != nullptr; p = udev_device_get_parent(p)) {
        const char* subsystem = udev_device_get_subsystem(p);
        if (subsystem == nullptr || std::string_view(subsystem) != "serial-base") {
            return p;
        }
    }
    return nullptr;
}

std::string DriverFrom(udev_device* d) {
    for (udev_device* p = d; p != nullptr; p = udev_device_get_parent(p)) {
        if (const char* driver = udev_device_get_driver(p)) {
            return driver;
        }
    }
    return {};
}

std::vector<std::string> Links(udev_device* d) {
    std::vector<std::string> links;
    for (udev_list_entry* e = udev_device_get_devlinks_list_entry(d); e != nullptr;
         e = udev_list_entry_get_next(e)) {
        links.emplace_back(udev_list_entry_get_name(e));
    }
    // A device read from sysfs alone, not from udev's database, carries its links only in the
    // property.
    if (links.empty()) {
        std::istringstream words(Property(d, "DEVLINKS"));
        for (std::string link; words >> link;) {
            links.push_back(link);
        }
    }
    // The order differs between a listing and an event; the choice below must not.
    std::sort(links.begin(), links.end());
    return links;
}

bool Describe(udev_device* d, TtyDevice& out) {
    out.path = Text(udev_device_get_devnode(d));
    out.name = Text(udev_device_get_sysname(d));
    // Virtual terminals, the console and ptmx have no device behind them.
    udev_device* hardware = HardwareParent(d);
    if (out.path.empty() || out.name.empty() || hardware == nullptr) {
        return false;
    }
    // The serial core publishes the probed UART type without opening the port (opening could
    // disturb a console on it); 0 is an 8250 slot with nothing behind it.
    if (Attribute(d, "type") == "0") {
        return false;
    }
    for (const std::string& link : Links(d)) {
        if (out.byId.empty() && link.starts_with("/dev/serial/by-id/")) {
            out.byId = link;
        } else if (out.byPath.empty() && link.starts_with("/dev/serial/by-path/")) {
            out.byPath = link;
        }
    }
    // udevd's rules fill these in; where it does not run, the USB device's own attributes say
    // the same.
    out.vendorId = Property(d, "ID_VENDOR_ID");
    out.productId = Property(d, "ID_MODEL_ID");
    out.manufacturer = Property(d, "ID_VENDOR");
    out.product = Property(d, "ID_MODEL");
    out.serial = Property(d, "ID_SERIAL_SHORT");
    out.driver = Property(d, "ID_USB_DRIVER");
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device")) {
        const auto fill = [usb](std::string& field, const char* attribute) {
            if (field.empty()) {
                field = Attribute(usb, attribute);
            }
        };
        fill(out.vendorId, "idVendor");
        fill(out.productId, "idProduct");
        fill(out.serial, "serial");
        // The attributes are what the adapter says, spaces and all; udev's ID_VENDOR and
        // ID_MODEL have them turned into underscores.
        for (auto [field, attribute] :
             {std::pair{&out.manufacturer, "manufacturer"}, std::pair{&out.product, "product"}}) {
            if (std::string said = Attribute(usb, attribute); !said.empty()) {
                *field = std::move(said);
            }
        }
    }
    if (out.driver.empty()) {
        out.driver = DriverFrom(hardware);
    }
    return true;
}

// Under udevd, the "udev" group delivers an event once the node, its permissions and its links
// exist; the kernel's own arrives before them. Without udevd only the kernel's ever comes.
const char* MonitorGroup() {
    struct stat st;
    return ::stat("/run/udev/control", &st) == 0 ? "udev" : "kernel";
}

}  // namespace

std::string TtyDevice::Identity() const {
    if (!serial.empty() && !byId.empty()) {
        return byId;
    }
    return byPath.empty() ? byId : byPath;
}

std::string TtyDevice::AdapterName() const {
    std::string name = manufacturer;
    if (!product.empty() && !product.starts_with(manufacturer)) {
        name += name.empty() ? product : " " + product;
    } else if (!product.empty()) {
        name = product;
    }
    if (name.empty() && !vendorId.empty()) {
        name = vendorId + ":" + productId;
    }
    if (name.empty()) {
        return {};
    }
    if (!serial.empty()) {
        return name + " (" + serial + ")";
    }
    if (Identity() == byPath && !byPath.empty()) {
        // "pci-0000:00:14.0-usb-0:2:1.0-port0": the part a person can match to a socket.
        std::string socket = byPath.substr(byPath.rfind('/') + 1);
        if (const size_t usb = socket.find("-usb-"); usb != std::string::npos) {
            socket = socket.substr(usb + 5);
            socket = socket.substr(0, socket.rfind("-port"));
        }
        return name + " (no serial number, USB socket " + socket + ")";
    }
    return name;
}

std::optional<std::vector<TtyDevice>> ListTtyDevices() {
    const Udev u(udev_new());
    if (!u) {
        return std::nullopt;
    }
    const UdevEnumerate listing(udev_enumerate_new(u.get()));
    if (!listing || udev_enumerate_add_match_subsystem(listing.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(listing.get()) < 0) {
        return std::nullopt;
    }
    std::vector<TtyDevice> devices;
    // Only the names are looked at first: a machine has dozens of virtual terminals, and
    // reading each one's attributes is most of the time a listing takes.
    udev_list_entry* entry = udev_enumerate_get_list_entry(listing.get());
    for (; entry != nullptr; entry = udev_list_entry_get_next(entry)) {
        const std::string_view syspath = udev_list_entry_get_name(entry);
        if (syspath.starts_with("/sys/devices/virtual/")) {
            continue;
        }
        const UdevDevice d(udev_device_new_from_syspath(u.get(), std::string(syspath).c_str()));
        TtyDevice device;
        if (d && Describe(d.get(), device)) {
            devices.push_back(std::move(device));
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const TtyDevice& a, const TtyDevice& b) { return a.name < b.name; });
    return devices;
}

struct TtyMonitor::State {
    Udev u;
    UdevMonitor monitor;
};

TtyMonitor::TtyMonitor() : state_(std::make_unique<State>()) {
    state_->u.reset(udev_new());
    if (!state_->u) {
        return;
    }
    UdevMonitor monitor(udev_monitor_new_from_netlink(state_->u.get(), MonitorGroup()));
    if (monitor &&
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) >= 0 &&
        udev_monitor_enable_receiving(monitor.get()) >= 0) {
        state_->monitor = std::move(monitor);
    }
}

TtyMonitor::~TtyMonitor() = default;

int TtyMonitor::Fd() const {
    return state_->monitor ? udev_monitor_get_fd(state_->monitor.get()) : -1;
}

bool TtyMonitor::TakeEvents() {
    bool changed = false;
    if (!state_->monitor) {
        return false;
    }
    // The socket is non-blocking: receive returns nothing once it is drained.
    while (const UdevDevice d{udev_monitor_receive_device(state_->monitor.get())}) {
        const std::string action = Text(udev_device_get_action(d.get()));
        changed = changed || action == "add" || action == "remove";
    }
    return changed;
}

}  // namespace platform

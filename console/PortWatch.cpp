#include "console/PortWatch.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/PortNames.h"
#include "platform/TtyDevices.h"

namespace console {

namespace {

// An adapter brings its USB device, interface and tty within a few milliseconds; the list is
// made once they are all there, well inside the half second a person notices.
constexpr int kSettleMs = 50;

}  // namespace

CPortWatch& CPortWatch::Instance() {
    static auto* watch = new CPortWatch();  // lives as long as the program
    return *watch;
}

CPortWatch::CPortWatch() : monitor_(std::make_unique<platform::TtyMonitor>()) {
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &CPortWatch::PortsChanged);
    folder_ = new QFileSystemWatcher(this);
    connect(folder_, &QFileSystemWatcher::directoryChanged, settle_, qOverload<>(&QTimer::start));
    if (monitor_->Fd() >= 0) {
        notifier_ = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &CPortWatch::OnEvents);
    }
}

CPortWatch::~CPortWatch() = default;

void CPortWatch::OnEvents() {
    if (monitor_->TakeEvents()) {
        settle_->start();
    }
}

void CPortWatch::FollowPortFolder() {
    // The simulated bench comes and goes in the port folder, not through udev. The folder is
    // looked up again each time a list starts to listen: it is only ever the one in use now.
    const QString folder = QString::fromStdString(platform::PortDirectory());
    if (folder_->directories() == QStringList{folder}) {
        return;
    }
    if (!folder_->directories().isEmpty()) {
        folder_->removePaths(folder_->directories());
    }
    if (!folder.isEmpty() && platform::PortDirectoryWarning().empty()) {
        folder_->addPath(folder);
    }
}

void RefillOnPortChanges(QObject* owner, std::function<void()> refill) {
    CPortWatch& watch = CPortWatch::Instance();
    watch.FollowPortFolder();
    QObject::connect(&watch, &CPortWatch::PortsChanged, owner, std::move(refill));
}

}  // namespace console

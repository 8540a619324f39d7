#include "console/PortWatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include "platform/TtyDevices.h"

namespace console {

namespace {

// An adapter brings its USB device, interface and tty within a few milliseconds; the list is
// made once they are all there, well inside the half second a person notices.
constexpr int kSettleMs = 50;

}  // namespace

CPortWatch& CPortWatch::Instance() {
    static CPortWatch* watch = new CPortWatch();  // lives as long as the program
    return *watch;
}

CPortWatch::CPortWatch() : monitor_(std::make_unique<platform::TtyMonitor>()) {
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    connect(settle_, &QTimer::timeout, this, &CPortWatch::PortsChanged);
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

void RefillOnPortChanges(QObject* owner, std::function<void()> refill) {
    QObject::connect(&CPortWatch::Instance(), &CPortWatch::PortsChanged, owner, std::move(refill));
}

}  // namespace console

#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;
namespace platform {
class TtyMonitor;
}

namespace console {

// Tells the windows when a serial device appears or goes (udev's events, and changes to the port
// folder, on this thread's event loop), so that every open port list shows what is there now.
class CPortWatch : public QObject {
    Q_OBJECT

public:
    // The one watch of the program, made on first use on the window thread.
    static CPortWatch& Instance();
    ~CPortWatch() override;
    // Watches the port folder in use now (and only that one).
    void FollowPortFolder();

signals:
    // A burst of events (an adapter brings several) gives one signal, a moment after the last.
    void PortsChanged();

private:
    CPortWatch();
    void OnEvents();

    std::unique_ptr<platform::TtyMonitor> monitor_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* settle_ = nullptr;
    QFileSystemWatcher* folder_ = nullptr;
};

// Calls refill on owner's thread each time the ports change, for as long as owner lives.
void RefillOnPortChanges(QObject* owner, std::function<void()> refill);

}  // namespace console

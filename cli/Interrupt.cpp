#include "cli/Interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace cli::interrupt {

namespace {

std::atomic<bool> requested{false};
std::mutex actionMutex;
std::function<void()> action;  // under actionMutex

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void Install() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) {
                continue;
            }
            requested = true;
            const std::lock_guard lock(actionMutex);
            if (action) {
                action();
            }
        }
    }).detach();
}

bool Requested() {
    return requested;
}

void OnRequest(std::function<void()> newAction) {
    const std::lock_guard lock(actionMutex);
    action = std::move(newAction);
    if (requested && action) {
        action();
    }
}

void Clear() {
    const std::lock_guard lock(actionMutex);
    action = nullptr;
}

}  // namespace cli::interrupt

#include "devices/TempControllerBase.h"

CTempControllerBase::CTempControllerBase() {
    // Both controller models answer within a second; a missing reply is a time-out of that
    // length.
    ReplyTimeout = 1000;
}

CTempControllerBase::~CTempControllerBase() {
    Close();
}

bool CTempControllerBase::TestCommSettings(CommSettings settings) {
    // Under CommandLock so that no other operation opens the port with the borrowed settings.
    std::lock_guard command(CommandLock);
    const CommSettings own = Settings;
    Settings = settings;
    const bool opened = OpenPort();
    if (opened) {
        ClosePort();
    }
    Settings = own;
    return opened;
}

bool CTempControllerBase::Probe() {
    const bool opened = OpenPort();
    if (opened) {
        ClosePort();
    }
    return opened;
}

std::string CTempControllerBase::FrameCommand(std::string_view command) const {
    std::string wire(command);
    wire.push_back('\r');
    return wire;
}

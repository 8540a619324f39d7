#include "tools/firmware/FirmwareProgress.h"

#include <algorithm>
#include <atomic>

#include "tools/firmware/Smi.h"

namespace {

// Shared by every updater window of the process and kept between runs.
std::atomic<int32_t> notificationTotal{0};

}  // namespace

const wchar_t* CFirmwareProgress::StepText(int32_t code) {
    switch (code) {
        case smi_notify::kDownloading:
            return L"Downloading new program...";
        case smi_notify::kBackingUp:
            return L"Backing up current program...";
        case smi_notify::kAddressing:
            return L"Addressing motors...";
        case smi_notify::kDetecting:
            return L"Detecting motors...";
        case smi_notify::kResolvingCollisions:
            return L"Resolving Colisions...";
        case smi_notify::kMotorInformation:
            return L"Getting Motor Information...";
        default:
            return nullptr;
    }
}

int32_t CFirmwareProgress::Total() {
    return notificationTotal.load();
}

void CFirmwareProgress::ResetTotal() {
    notificationTotal.store(0);
}

bool CFirmwareProgress::Apply(int32_t code, int32_t value) {
    const FirmwareProgressDisplay before = display_;
    if (const wchar_t* text = StepText(code)) {
        notificationTotal.store(value);
        display_.Visible = true;
        display_.StatusText = text;
    } else if (code == smi_notify::kProgress) {
        const int32_t total = notificationTotal.load();
        if (total == 0) {
            return false;
        }
        // In 64 bits: a count past 21 million would overflow the product in 32.
        const int64_t percent = int64_t{value} * 100 / total;
        display_.PercentText = std::to_wstring(percent) + L"%";
        if (total > 0) {
            display_.BarPosition = static_cast<int32_t>(std::clamp<int64_t>(percent, 0, 100));
        }
    } else if (code == smi_notify::kFinished) {
        display_.PercentText = L"100%";
        display_.Visible = false;
    }
    return !(display_ == before);
}

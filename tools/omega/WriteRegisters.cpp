#include "tools/omega/WriteRegisters.h"

#include <chrono>
#include <string>
#include <thread>

#include "devices/OmegaTempController.h"
#include "tools/omega/RegisterHex.h"

namespace omega {

namespace {

constexpr int kReadBackTries = 10;

bool WriteOne(COmegaTempController& controller, const RegisterEntry& entry) {
    controller.ClearFailure();
    controller.WriteRegister(entry.Register, entry.Value, entry.Width);
    // The controller needs a moment before the register shows what was written; a read that
    // shows anything else (or nothing) is tried again after the next pause.
    for (int attempt = 0; attempt < kReadBackTries; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(controller.ReadBackDelayMs));
        uint32_t shown = 0;
        if (controller.ReadRegister(static_cast<int32_t>(entry.Register), shown) &&
            shown == entry.Value) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool WriteRegisters(COmegaTempController& controller, const RegisterTable& table,
                    CSetProgressInterface& progress, platform::AutoResetEvent& cancel,
                    platform::IMessageSink& messages, std::string* lastFailure) {
    if (table.empty()) {
        return true;
    }
    double percent = 0.0;
    const double step = 100.0 / static_cast<double>(table.size());
    for (const RegisterEntry& entry : table) {
        if (cancel.Wait(0)) {
            progress.SetProgress(100.0, L"Cancelled.");
            return false;
        }
        progress.SetProgress(percent, L"Setting register 0x" + WideHex(entry.Register, 2) + L" (" +
                                          entry.Name + L") to value 0x" +
                                          WideHex(entry.Value, entry.Width) + L" ...");
        if (entry.Width >= 1 && entry.Width <= 6) {
            if (!WriteOne(controller, entry)) {
                if (lastFailure != nullptr) {
                    *lastFailure = controller.LastFailure().Text;
                }
                messages.ShowMessage(L"Failed to set parameter (reg = " +
                                         WideHex(entry.Register, 2) + L", value = " +
                                         WideHex(entry.Value, 6) + L")",
                                     platform::MessageStyle::Error);
            }
        } else {
            // Only a settings file brings a register the controller's vocabulary does not know;
            // without a width there is no command to send for it.
            messages.ShowMessage(L"Error setting register 0x" + WideHex(entry.Register, 2) + L" (" +
                                     entry.Name + L") to 0x" + WideHex(entry.Value, entry.Width) +
                                     L".",
                                 platform::MessageStyle::Plain);
        }
        percent += step;
    }
    return true;
}

}  // namespace omega

#pragma once

#include <string>

#include "platform/AutoResetEvent.h"
#include "platform/MessageSink.h"
#include "tools/omega/RegisterTable.h"
#include "tools/omega/SetProgressInterface.h"

class COmegaTempController;

namespace omega {

// Writes every entry of table to an open controller in register order, reading each back
// until it shows the value written (ten tries, the controller's read-back delay apart). An
// entry that never reads back, or whose width the controller cannot take, is reported through
// messages and the run goes on. Progress goes to progress before each entry. cancel is tested,
// and consumed, before each entry; false only when it stopped the run. lastFailure, when given,
// receives why the controller failed the last entry it failed, in words (empty: none did, or
// it answered every read with another value).
bool WriteRegisters(COmegaTempController& controller, const RegisterTable& table,
                    CSetProgressInterface& progress, platform::AutoResetEvent& cancel,
                    platform::IMessageSink& messages, std::string* lastFailure = nullptr);

}  // namespace omega

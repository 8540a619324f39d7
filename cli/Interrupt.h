#pragma once

#include <functional>

// Ctrl-C (and SIGTERM) as a request to stop, not a kill. Install blocks both signals in every
// thread started afterwards and waits for them on a thread of its own, which marks the request
// and calls what the running command registered (a window's Cancel, in effect). The command
// then stops where its run lets it, puts the port back and exits 130.
namespace cli::interrupt {

// Call first in main, before any thread exists.
void Install();
bool Requested();
// What to do when the request comes; replaces what was registered. Runs on the waiting thread.
// Called at once if a request came already.
void OnRequest(std::function<void()> action);
// No action any more (before what it refers to goes away).
void Clear();

}  // namespace cli::interrupt

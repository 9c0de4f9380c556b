// A program's own state, asked for from outside. The device tool shows what a running
// program holds in memory (the listener's suspended sources) by asking the program's process
// through its window-message socket, so the program writes nothing when that state changes.
// Not a device API.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace ce {

// This process answers state queries with what `reporter` returns, from now on. It runs in
// GetMessageW, on the thread of the message loop, between two messages and with the windowing
// lock held: it may read the program's own data, never call a window function. Answers need
// a window of this process (its socket). An empty reporter stops the answers.
void setStateReporter(std::function<std::string()> reporter);

// The state of process `pid` of this device, as its reporter gives it; nullopt when it gives
// none within timeoutMs (no reporter, no windows, a loop that does not run, or gone).
std::optional<std::string> queryProcessState(int pid, int timeoutMs);

// True once GetMessageW has returned WM_QUIT in this process: its message loop ended because
// it was asked to, not because the program gave up before or without one.
bool messageLoopQuit();

}  // namespace ce

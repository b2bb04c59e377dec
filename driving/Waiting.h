// Waiting with a deadline. A driver checks a window of another thread or
// process by polling a condition until it holds or a deadline passes, so a
// slow start or a loaded machine costs time, not a false failure.
#pragma once

#include <chrono>
#include <functional>

namespace driving {

// How long any single condition may take to come true. Under Wine on a busy
// two-core machine a program start takes up to a few seconds; nothing a
// driver waits for should take longer than this.
inline constexpr std::chrono::milliseconds kDeadline{15000};

// Polls `condition` every 20 ms until it returns true (then true) or
// `timeout` passes (then false, after one last look). Between looks it
// dispatches the messages waiting for the calling thread: the program being
// driven may send messages to the caller's windows (the clipboard owner is
// told when the program takes the clipboard over) and would otherwise hang
// until the caller listens again.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kDeadline);

} // namespace driving

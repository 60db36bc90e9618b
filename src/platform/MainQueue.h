#pragma once

#include <chrono>
#include <functional>

namespace wren::platform {

// The main queue: the GLib main loop that runs on the main thread for the whole life of
// the process. Work that must happen on the main thread, and every deadline and retry
// timer, is scheduled here. Safe to call from any thread. Work runs one piece at a time, in
// the order it was handed in (timers when they are due); what a piece throws is reported as
// one line on standard error and the loop goes on. Waits for an answer of the platform use a
// OneShot (OneShot.h), whose deadline is a timer here.
namespace mainQueue {

// Runs the main loop on the calling thread until quit() is called.
void run();
void quit();

// Runs the function once on the main thread, soon.
void post(std::function<void()> work);
// Runs the function once on the main thread after the delay.
void after(std::chrono::milliseconds delay, std::function<void()> work);

}  // namespace mainQueue

}  // namespace wren::platform

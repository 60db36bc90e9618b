#include "platform/MainQueue.h"

#include <glib.h>

#include <memory>

namespace wren::platform::mainQueue {

namespace {

GMainLoop* loop() {
  // Created once and kept for the life of the process.
  static GMainLoop* mainLoop = g_main_loop_new(g_main_context_default(), FALSE);
  return mainLoop;
}

gboolean runOnce(gpointer data) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
  (*work)();
  return G_SOURCE_REMOVE;
}

}  // namespace

void run() { g_main_loop_run(loop()); }

// Quitting goes through the queue itself, so that a quit asked for before the loop runs
// still ends it.
void quit() {
  post([] { g_main_loop_quit(loop()); });
}

// An idle source is always queued on the main context, never run in place: with
// g_main_context_invoke the work would run on the calling thread while the main loop has
// not yet acquired the context, and a quit run that way, before the loop starts, would be
// lost and leave the process hanging.
void post(std::function<void()> work) {
  g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new std::function<void()>(std::move(work)), nullptr);
}

void after(std::chrono::milliseconds delay, std::function<void()> work) {
  auto ms = static_cast<guint>(delay.count() < 0 ? 0 : delay.count());
  g_timeout_add_full(G_PRIORITY_DEFAULT, ms, runOnce, new std::function<void()>(std::move(work)),
                     nullptr);
}

}  // namespace wren::platform::mainQueue

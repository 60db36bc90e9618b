#include "platform/MainQueue.h"

#include <glib.h>

#include <memory>
#include <mutex>
#include <vector>

#include "base/Diagnostic.h"

namespace wren::platform::mainQueue {

namespace {

using Clock = std::chrono::steady_clock;

GMainLoop* loop() {
  // Created once and kept for the life of the process.
  static GMainLoop* mainLoop = g_main_loop_new(g_main_context_default(), FALSE);
  return mainLoop;
}

// Work handed in from any thread waits here until the main thread takes it. The hand-over
// goes through this lock rather than through GLib's own queues, so that what one thread
// built for the work is seen complete by the main thread, in a way that race detectors can
// follow too.
struct Inbox {
  struct Item {
    Clock::time_point due;  // the epoch for work without a delay
    std::function<void()> work;
  };
  std::mutex mutex;
  std::vector<Item> items;
};

Inbox& inbox() {
  static Inbox* shared = new Inbox;  // lives as long as the process
  return *shared;
}

bool hasWork() {
  std::lock_guard lock(inbox().mutex);
  return !inbox().items.empty();
}

// Work must never unwind through GLib's frames: what it throws is reported on one line and
// the loop goes on.
void runGuarded(const std::function<void()>& work) { runReportingFailure(work, "main queue work failed"); }

gboolean runTimer(gpointer data) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
  runGuarded(*work);
  return G_SOURCE_REMOVE;
}

gboolean prepareInbox(GSource*, gint* timeout) {
  *timeout = -1;
  return hasWork();
}

gboolean checkInbox(GSource*) { return hasWork(); }

// Runs the work that is due and turns delayed work into timers of the main context.
gboolean dispatchInbox(GSource*, GSourceFunc, gpointer) {
  std::vector<Inbox::Item> items;
  {
    std::lock_guard lock(inbox().mutex);
    items.swap(inbox().items);
  }
  const Clock::time_point now = Clock::now();
  for (Inbox::Item& item : items) {
    if (item.due <= now) {
      runGuarded(item.work);
      continue;
    }
    auto remaining = std::chrono::ceil<std::chrono::milliseconds>(item.due - now);
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(remaining.count()), runTimer,
                       new std::function<void()>(std::move(item.work)), nullptr);
  }
  return G_SOURCE_CONTINUE;
}

GSourceFuncs inboxFuncs = {prepareInbox, checkInbox, dispatchInbox, nullptr, nullptr, nullptr};

void attachInbox() {
  static std::once_flag attached;
  std::call_once(attached, [] {
    GSource* source = g_source_new(&inboxFuncs, sizeof(GSource));
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);  // the context holds it from now on
  });
}

void handIn(Clock::time_point due, std::function<void()> work) {
  attachInbox();
  {
    std::lock_guard lock(inbox().mutex);
    inbox().items.push_back({due, std::move(work)});
  }
  g_main_context_wakeup(g_main_context_default());
}

}  // namespace

void run() {
  attachInbox();
  g_main_loop_run(loop());
}

// Quitting goes through the queue itself, so that a quit asked for before the loop runs
// still ends it.
void quit() {
  post([] { g_main_loop_quit(loop()); });
}

void post(std::function<void()> work) { handIn(Clock::time_point(), std::move(work)); }

void after(std::chrono::milliseconds delay, std::function<void()> work) {
  handIn(Clock::now() + std::max(delay, std::chrono::milliseconds(0)), std::move(work));
}

}  // namespace wren::platform::mainQueue

// wren-mac-helper: answers the desktop assistant's requests, one JSON line in and one JSON
// line out, until its standard input ends.

#include <signal.h>

#include <string>
#include <system_error>
#include <thread>

#include "app/OutputWriter.h"
#include "app/RequestLoop.h"
#include "app/Router.h"
#include "calendar/Calendar.h"
#include "platform/MainQueue.h"
#include "reminders/Reminders.h"

int main() {
  // A host that closes our standard output must not kill us: replies are dropped instead.
  signal(SIGPIPE, SIG_IGN);

  // The method table is complete before the first line is read and never changes after.
  static wren::Router router;
  wren::registerCalendar(router);
  wren::registerReminders(router);

  static wren::OutputWriter output;
  // The loop and its threads live until the process exits.
  static wren::RequestLoop* loop = new wren::RequestLoop(router, output);

  try {
    std::thread([] {
      loop->run(0);
      wren::platform::mainQueue::quit();
    }).detach();
  } catch (const std::system_error& error) {
    output.diagnostic(std::string("wren-mac-helper: cannot start reading requests: ") + error.what());
    return 1;
  }

  wren::platform::mainQueue::run();
  return 0;
}

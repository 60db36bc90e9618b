// wren-mac-helper: answers the desktop assistant's requests, one JSON line in and one JSON
// line out, until its standard input ends.

#include <signal.h>

#include <thread>

#include "app/OutputWriter.h"
#include "app/RequestLoop.h"
#include "app/Router.h"
#include "calendar/Calendar.h"
#include "platform/MainQueue.h"
#include "platform/ocr/TesseractRecognizer.h"
#include "reminders/Reminders.h"
#include "vision/Vision.h"

int main() {
  // A host that closes our standard output must not kill us: replies are dropped instead.
  signal(SIGPIPE, SIG_IGN);

  // The method table is complete before the first line is read and never changes after.
  static wren::Router router;
  wren::registerCalendar(router);
  wren::registerReminders(router);
  // Never destroyed: Tesseract's model cache is torn down at exit before the engines that
  // still hold its models would be.
  static auto* recognizer = new wren::platform::TesseractRecognizer;
  wren::registerVision(router, *recognizer);

  static wren::OutputWriter output;
  // The loop and its threads live until the process exits.
  static wren::RequestLoop* loop = new wren::RequestLoop(router, output);

  std::thread reader([] {
    loop->run(0);
    wren::platform::mainQueue::quit();
  });
  reader.detach();

  wren::platform::mainQueue::run();
  return 0;
}

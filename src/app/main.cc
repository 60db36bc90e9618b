// wren-mac-helper: answers the desktop assistant's requests, one JSON line in and one JSON
// line out, until its standard input ends.

#include <malloc.h>
#include <signal.h>

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "app/OutputWriter.h"
#include "app/RequestLoop.h"
#include "app/Router.h"
#include "calendar/Calendar.h"
#include "contacts/Contacts.h"
#include "location/Location.h"
#include "permissions/EventStoreBox.h"
#include "permissions/Permissions.h"
#include "platform/DataRoot.h"
#include "platform/DesktopModule.h"
#include "platform/GeoClueLocationSource.h"
#include "platform/MainQueue.h"
#include "platform/contacts/VcardContactStore.h"
#include "platform/vdir/VdirStore.h"
#include "reminders/Reminders.h"
#include "system/OwnerAuth.h"
#include "system/System.h"
#include "vision/Vision.h"

int main() {
  // A host that closes our standard output must not kill us: replies are dropped instead.
  signal(SIGPIPE, SIG_IGN);
  // One heap for every thread. Each pool worker would otherwise get a heap of its own, which
  // keeps the memory of the largest reply it ever built: a burst of pipelined lists then
  // costs a third more memory for good, against a few percent of throughput with one heap
  // (threads keep their own caches of small blocks either way).
  mallopt(M_ARENA_MAX, 1);
  // A request's passing memory stays in the heap for the next one. Left to itself, glibc
  // gives the top of the heap back after each list of a few thousand reminders, and
  // faulting those pages in again costs as much as building the list. The store still
  // gives memory back explicitly after large readings (releaseFreedMemory).
  mallopt(M_MMAP_THRESHOLD, 8 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);

  // The platform services, each made once here and handed to the subsystems that use it.
  // They live until the process exits; the event store is built by its first request.
  static wren::EventStoreBox eventStore(wren::platform::makeVdirEventStore);
  // Text recognition, file icons, owner verification and geocoding live in the desktop
  // module, loaded by the first request that needs it (DesktopModule.h).
  auto desktop = std::make_shared<wren::platform::DesktopModule>(wren::platform::DesktopModule::besideExecutable());
  wren::SystemServices system{wren::platform::PowerSources("/sys"), wren::platform::ProcessFootprints("/proc"),
                              wren::platform::MountedVolumes({"/proc/self/mountinfo", "/sys", "/dev"}),
                              wren::platform::lazyIconTheme(desktop)};
  // Never destroyed: Tesseract's model cache is torn down at exit before the engines that
  // still hold its models would be.
  static auto* vision = wren::platform::lazyVisionEngine(desktop).release();
  // Each contacts request gets a store of its own; the stores share one index of the cards.
  wren::platform::ContactStoreFactory contactStores = wren::platform::makeVcardContactStores();
  static wren::platform::GeoClueLocationSource locationSource(wren::platform::dataRoot() / "location");
  static std::unique_ptr<wren::platform::Geocoder> geocoder = wren::platform::lazyGeocoder(desktop);

  // The method table is complete before the first line is read and never changes after.
  static wren::Router router;
  wren::registerPermissions(router, eventStore, wren::PermissionServices{});
  wren::registerCalendar(router, eventStore);
  wren::registerReminders(router, eventStore);
  wren::registerContacts(router, std::move(contactStores));
  wren::registerLocation(router, locationSource, *geocoder);
  wren::registerVision(router, *vision);
  wren::registerSystem(router, std::move(system));
  wren::registerOwnerAuth(router, wren::platform::lazyOwnerAuthority(desktop));

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

#include "system/System.h"

#include <memory>

#include "system/Battery.h"
#include "system/FinderTags.h"
#include "system/Footprint.h"
#include "system/Icons.h"
#include "system/Volumes.h"

namespace wren {

void registerSystem(Router& router, SystemServices services) {
  auto shared = std::make_shared<const SystemServices>(std::move(services));
  router.registerMethod("files.tags.get", filesTagsGet);
  router.registerMethod("files.tags.set", filesTagsSet);
  router.registerMethod("files.volumes", [shared](const Params&) { return filesVolumes(shared->volumes); });
  router.registerAsyncMethod("icons.files", [shared](const Params& params, Reply reply) {
    iconsFiles(params, std::move(reply), shared->icons);
  });
  router.registerMethod("process.footprint",
                        [shared](const Params& params) { return processFootprint(params, shared->footprints); });
  router.registerMethod("battery.status", [shared](const Params&) { return batteryStatus(shared->power.read()); });
}

}  // namespace wren

#pragma once

#include <memory>

#include "app/Router.h"
#include "platform/FileIcons.h"
#include "platform/MountedVolumes.h"
#include "platform/PowerSources.h"
#include "platform/ProcessFootprints.h"

namespace wren {

// The parts of the machine that the system and files methods read. main builds them on
// the real /sys, /proc and mount table; tests build them on trees of their own.
struct SystemServices {
  platform::PowerSources power;
  platform::ProcessFootprints footprints;
  platform::MountedVolumes volumes;
  // Drawn on the main queue only.
  std::shared_ptr<platform::IconTheme> icons;
};

// The files and system methods: files.tags.get, files.tags.set, files.volumes, then
// icons.files, process.footprint and battery.status.
void registerSystem(Router& router, SystemServices services);

}  // namespace wren

#pragma once

namespace wren::platform {

// Whether Location Services count as switched on for the whole machine: GeoClue answers on
// the system bus, or the person keeps a fixed location in the data root's `location` file.
// Read afresh on every call.
bool locationServicesEnabled();

// Whether the GeoClue service runs on the system bus or the bus can start it on demand. No
// system bus, or no answer within a short time, counts as no.
bool geoClueAvailable();

}  // namespace wren::platform

#pragma once

// Reverse geocoding through a Nominatim service (its /reverse call and JSON), over HTTP with
// libsoup on the main queue's GLib context:
//
//   NominatimGeocoder geocoder(publicNominatimUrl());
//   geocoder.reverseGeocode(lat, lon, deadline, done);   // see Geocoder.h
//
// The public service asks each program to say who it is and to send no more than one request
// a second: every request carries the helper's User-Agent, and lookups leave one at a time, at
// least `interval` apart. A lookup waiting for its turn still ends at its own deadline, and
// then gives its turn to the next one. Replies larger than a Nominatim reply can be are not
// read whole.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Geocoder.h"

namespace wren::platform {

class NominatimGeocoder : public Geocoder {
 public:
  // `baseUrl` is the service's address without the trailing slash (http://127.0.0.1:8080).
  explicit NominatimGeocoder(std::string baseUrl,
                             std::chrono::milliseconds interval = std::chrono::seconds(1));
  ~NominatimGeocoder() override;
  NominatimGeocoder(const NominatimGeocoder&) = delete;
  NominatimGeocoder& operator=(const NominatimGeocoder&) = delete;

  void reverseGeocode(double latitude, double longitude, std::chrono::steady_clock::time_point deadline,
                      std::function<void(GeocodeAnswer)> done) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// The public service, unless WREN_GEOCODER_URL names a service on this machine's loopback
// address (how the tests run the helper against a stub); any other value is ignored, so that
// no setting can send a person's coordinates anywhere else.
std::string nominatimUrl();

// The places in the text of a /reverse reply (format jsonv2 with address details): one, or
// none when the service found nothing there. Other for text that is not such a reply.
GeocodeAnswer placemarksFromNominatim(std::string_view json);

// The request's User-Agent: the program's name and what it is, as the service's policy asks.
extern const char* const kGeocoderUserAgent;

}  // namespace wren::platform

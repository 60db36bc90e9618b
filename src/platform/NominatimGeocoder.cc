#include "platform/NominatimGeocoder.h"

#include <libsoup/soup.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <deque>
#include <initializer_list>

#include "base/JsonParse.h"
#include "platform/MainQueue.h"
#include "platform/files/Deleters.h"

namespace wren::platform {

const char* const kGeocoderUserAgent = "wren-mac-helper/1.0 (desktop assistant helper; reverse geocoding)";

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPublicUrl = "https://nominatim.openstreetmap.org";
// A reverse lookup's reply is a few kilobytes; a hundred times that is not one.
constexpr std::size_t kMaxReplyBytes = 512 * 1024;
constexpr gsize kReadChunk = 16 * 1024;
// How the service says that a program sends too many requests (libsoup names no constant).
constexpr guint kTooManyRequests = 429;

using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// Coordinates as plain decimals: the service reads no exponents.
std::string decimalText(double value) {
  char digits[64];
  auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
  return std::string(digits, result.ptr);
}

GeocodeError transportError(const GError* error) {
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return {GeocodeErrorKind::Canceled, error->message};
  if (error->domain == G_RESOLVER_ERROR) return {GeocodeErrorKind::Network, error->message};
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_NETWORK_UNREACHABLE:
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_HOST_NOT_FOUND:
      case G_IO_ERROR_TIMED_OUT:
      case G_IO_ERROR_NOT_CONNECTED:
      case G_IO_ERROR_CONNECTION_CLOSED:
      case G_IO_ERROR_PROXY_FAILED:
      case G_IO_ERROR_PROXY_NOT_ALLOWED:
        return {GeocodeErrorKind::Network, error->message};
      default:
        break;
    }
  }
  return {GeocodeErrorKind::Other, error->message};
}

// One lookup, from the call until its answer. Touched only on the main queue.
struct Lookup {
  double latitude = 0;
  double longitude = 0;
  Clock::time_point deadline;
  std::function<void(GeocodeAnswer)> done;
  std::unique_ptr<GCancellable, GObjectUnref> cancellable{g_cancellable_new()};

  bool answered() const { return !done; }
  void answer(GeocodeAnswer result) {
    if (!done) return;
    auto then = std::move(done);
    done = nullptr;
    then(std::move(result));
  }
};
using LookupPtr = std::shared_ptr<Lookup>;

bool oneOf(const std::string& value, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* name) { return value == name; });
}

// An http or https address of this machine's loopback interface.
bool isLoopbackUrl(const std::string& url) {
  std::unique_ptr<GUri, GUriUnref> uri(g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) return false;
  const std::string scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  return (scheme == "http" || scheme == "https") && host && oneOf(host, {"127.0.0.1", "localhost", "::1"});
}

}  // namespace

struct NominatimGeocoder::State {
  std::string baseUrl;
  std::chrono::milliseconds interval;
  std::unique_ptr<SoupSession, GObjectUnref> session;
  std::deque<LookupPtr> waiting;
  std::optional<Clock::time_point> lastSent;
  bool turnScheduled = false;

  // Made on the main queue by the first lookup, and used only there.
  SoupSession* soup() {
    if (session) return session.get();
    session.reset(soup_session_new_with_options("user-agent", kGeocoderUserAgent, nullptr));
    // A service on this machine is never reached through a proxy, so its requests skip the
    // proxy lookup, which GIO runs on a thread of its own for each request.
    if (isLoopbackUrl(baseUrl)) soup_session_set_proxy_resolver(session.get(), nullptr);
    return session.get();
  }
};

namespace {

using StatePtr = std::shared_ptr<NominatimGeocoder::State>;

// One request on the wire, from sending to the last byte of the reply.
struct Transfer {
  LookupPtr lookup;
  std::unique_ptr<SoupMessage, GObjectUnref> message;
  std::unique_ptr<GInputStream, GObjectUnref> stream;
  std::string body;
};

void readMore(std::unique_ptr<Transfer> transfer);

void readDone(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Transfer> transfer(static_cast<Transfer*>(data));
  GError* rawError = nullptr;
  std::unique_ptr<GBytes, GBytesUnref> bytes(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &rawError));
  ErrorPtr error(rawError);
  Lookup& lookup = *transfer->lookup;
  if (!bytes) return lookup.answer(transportError(error.get()));
  gsize size = 0;
  const char* data_ = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
  if (size == 0) return lookup.answer(placemarksFromNominatim(transfer->body));
  transfer->body.append(data_, size);
  if (transfer->body.size() > kMaxReplyBytes)
    return lookup.answer(GeocodeError{GeocodeErrorKind::Other, "the geocoding service's reply is too large"});
  readMore(std::move(transfer));
}

void readMore(std::unique_ptr<Transfer> transfer) {
  GInputStream* stream = transfer->stream.get();
  GCancellable* cancellable = transfer->lookup->cancellable.get();
  g_input_stream_read_bytes_async(stream, kReadChunk, G_PRIORITY_DEFAULT, cancellable, readDone, transfer.release());
}

void sent(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Transfer> transfer(static_cast<Transfer*>(data));
  GError* rawError = nullptr;
  GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), result, &rawError);
  ErrorPtr error(rawError);
  Lookup& lookup = *transfer->lookup;
  if (!stream) return lookup.answer(transportError(error.get()));
  transfer->stream.reset(stream);
  const guint status = soup_message_get_status(transfer->message.get());
  if (status == kTooManyRequests)
    return lookup.answer(GeocodeError{GeocodeErrorKind::Network, "the geocoding service is limiting requests"});
  if (status != SOUP_STATUS_OK) {
    const char* reason = soup_message_get_reason_phrase(transfer->message.get());
    return lookup.answer(GeocodeError{GeocodeErrorKind::Other, "the geocoding service answered HTTP " +
                                                                   std::to_string(status) +
                                                                   (reason && *reason ? std::string(" ") + reason : "")});
  }
  readMore(std::move(transfer));
}

void send(NominatimGeocoder::State& state, const LookupPtr& lookup) {
  std::string url = state.baseUrl + "/reverse?format=jsonv2&addressdetails=1&zoom=18&lat=" +
                    decimalText(lookup->latitude) + "&lon=" + decimalText(lookup->longitude);
  std::unique_ptr<SoupMessage, GObjectUnref> message(soup_message_new("GET", url.c_str()));
  if (!message)
    return lookup->answer(GeocodeError{GeocodeErrorKind::Other, "the geocoding service's address is not a URL: " +
                                                                    state.baseUrl});
  soup_message_headers_replace(soup_message_get_request_headers(message.get()), "Accept", "application/json");
  SoupMessage* raw = message.get();
  auto* transfer = new Transfer{lookup, std::move(message), nullptr, {}};
  soup_session_send_async(state.soup(), raw, G_PRIORITY_DEFAULT, lookup->cancellable.get(), sent, transfer);
}

// Sends the next lookup whose turn has come, and waits for the turn of the one after it.
void takeTurns(const StatePtr& state) {
  while (!state->waiting.empty()) {
    if (state->waiting.front()->answered()) {
      // Ended at its deadline while it waited: its turn goes to the next.
      state->waiting.pop_front();
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (state->lastSent && now < *state->lastSent + state->interval) {
      if (state->turnScheduled) return;
      state->turnScheduled = true;
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(*state->lastSent + state->interval - now);
      mainQueue::after(wait, [state] {
        state->turnScheduled = false;
        takeTurns(state);
      });
      return;
    }
    LookupPtr lookup = std::move(state->waiting.front());
    state->waiting.pop_front();
    state->lastSent = now;
    send(*state, lookup);
  }
}

std::string textOf(const Json& object, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto it = object.find(key);
    if (it != object.end() && it->is_string() && !it->get_ref<const std::string&>().empty())
      return it->get<std::string>();
  }
  return {};
}

}  // namespace

NominatimGeocoder::NominatimGeocoder(std::string baseUrl, std::chrono::milliseconds interval)
    : state_(std::make_shared<State>()) {
  while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.pop_back();
  state_->baseUrl = std::move(baseUrl);
  state_->interval = interval;
}

NominatimGeocoder::~NominatimGeocoder() = default;

void NominatimGeocoder::reverseGeocode(double latitude, double longitude, Clock::time_point deadline,
                                       std::function<void(GeocodeAnswer)> done) {
  auto lookup = std::make_shared<Lookup>();
  lookup->latitude = latitude;
  lookup->longitude = longitude;
  lookup->deadline = deadline;
  lookup->done = std::move(done);
  auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  mainQueue::after(remaining, [lookup] {
    if (lookup->answered()) return;
    g_cancellable_cancel(lookup->cancellable.get());
    lookup->answer(GeocodeError{GeocodeErrorKind::Canceled, "the lookup was cancelled at its deadline"});
  });
  state_->waiting.push_back(std::move(lookup));
  takeTurns(state_);
}

std::string nominatimUrl() {
  const char* configured = getenv("WREN_GEOCODER_URL");
  if (!configured || !isLoopbackUrl(configured)) return kPublicUrl;
  return configured;
}

GeocodeAnswer placemarksFromNominatim(std::string_view json) {
  const GeocodeError notAPlace{GeocodeErrorKind::Other, "the geocoding service's reply is not a place"};
  Json reply = parseJson(json);
  if (!reply.is_object()) return notAPlace;
  if (auto error = reply.find("error"); error != reply.end()) {
    // A text says that nothing was found there ("Unable to geocode"); an object reports a
    // request the service could not serve.
    if (error->is_string()) return std::vector<Placemark>{};
    std::string message = error->is_object() ? textOf(*error, {"message"}) : "";
    return GeocodeError{GeocodeErrorKind::Other, message.empty() ? notAPlace.description : message};
  }
  auto addressField = reply.find("address");
  if (addressField == reply.end() || !addressField->is_object()) return notAPlace;
  const Json& address = *addressField;

  Placemark place;
  place.subThoroughfare = textOf(address, {"house_number"});
  place.thoroughfare = textOf(address, {"road", "pedestrian", "footway", "path", "square"});
  place.subLocality = textOf(address, {"suburb", "city_district", "borough", "quarter", "neighbourhood"});
  place.locality = textOf(address, {"city", "town", "village", "hamlet", "municipality"});
  place.subAdministrativeArea = textOf(address, {"county"});
  place.administrativeArea = textOf(address, {"state", "province", "region"});
  place.postalCode = textOf(address, {"postcode"});
  place.country = textOf(address, {"country"});
  place.isoCountryCode = textOf(address, {"country_code"});
  std::transform(place.isoCountryCode.begin(), place.isoCountryCode.end(), place.isoCountryCode.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

  // Water: the address names the body it lies in, or the result is the body itself.
  const std::string name = textOf(reply, {"name"});
  const std::string type = textOf(reply, {"type"});
  place.ocean = textOf(address, {"ocean", "sea", "bay", "strait"});
  if (place.ocean.empty() && oneOf(type, {"ocean", "sea", "bay", "strait"})) place.ocean = name;
  place.inlandWater = textOf(address, {"water", "lake", "reservoir", "river"});
  if (place.inlandWater.empty() && oneOf(type, {"water", "lake", "reservoir", "river"})) place.inlandWater = name;

  // A place without a name of its own is called by its street address, as address books do.
  std::string street = place.subThoroughfare;
  if (!place.thoroughfare.empty()) street += (street.empty() ? "" : " ") + place.thoroughfare;
  place.name = name.empty() ? street : name;

  PostalAddress postal;
  postal.street = street;
  postal.subLocality = place.subLocality;
  postal.city = place.locality;
  postal.subAdministrativeArea = place.subAdministrativeArea;
  postal.state = place.administrativeArea;
  postal.postalCode = place.postalCode;
  postal.country = place.country;
  postal.isoCountryCode = place.isoCountryCode;
  if (!postal.street.empty() || !postal.city.empty() || !postal.state.empty() || !postal.postalCode.empty() ||
      !postal.country.empty() || !postal.subLocality.empty() || !postal.subAdministrativeArea.empty())
    place.postalAddress = postal;
  return std::vector<Placemark>{std::move(place)};
}

}  // namespace wren::platform

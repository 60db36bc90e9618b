#pragma once

#include <string>

namespace wren::platform {

// A postal address as address books and geocoders give it: every part optional (empty).
struct PostalAddress {
  std::string street;  // may span several lines
  std::string subLocality;
  std::string city;
  std::string subAdministrativeArea;
  std::string state;
  std::string postalCode;
  std::string country;
  std::string isoCountryCode;
  bool operator==(const PostalAddress&) const = default;
};

// The address in mailing style, one part per line:
//
//   1 Infinite Loop
//   Cupertino CA 95014
//   United States
//
// the street lines, then city, state and postal code joined by spaces, then the country.
// Parts that are empty or only white space are left out, and so is a line left empty.
std::string formatMailingAddress(const PostalAddress& address);

}  // namespace wren::platform

#pragma once

// The fields contacts.create and contacts.update accept, checked and turned into a change
// that can be applied to a contact:
//
//   ContactEdit edit(params, AllowCompany::No);   // invalid_args names the bad field
//   if (edit.isEmpty()) ...
//   platform::Contact copy = stored;
//   edit.apply(copy);                              // nothing is saved here
//
// A field the request leaves out is left alone; a field sent empty clears (lists: an empty
// array removes every entry). Lists replace the whole list.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Json.h"
#include "app/Params.h"
#include "platform/Contact.h"

namespace wren {

// One single-valued text field: its parameter, the contact key it writes, and its Chinese
// name for the texts that list what an update would remove.
struct ScalarField {
  std::string param;
  platform::ContactKey key;
  std::string zh;
};
// The eight fields, in the order of validation, writing and removal texts.
std::vector<ScalarField> scalarFields();

enum class LabelKind { Phone, Email, Url, Address };

// The label to store for a label word (English or Chinese) of that kind: a built-in
// constant, or the trimmed text as the client wrote it; nothing for none.
std::optional<std::string> labelConstant(const std::optional<std::string>& label, LabelKind kind);

// "YYYY-MM-DD" or "--MM-DD" (leading zeros optional); invalid_args otherwise.
platform::ContactDate parseBirthday(const std::string& text);

enum class AllowCompany { Yes, No };

class ContactEdit {
 public:
  ContactEdit(const Params& params, AllowCompany allowCompany);

  // The objects of a list parameter, checked for shape; nothing when the key is absent.
  static std::optional<std::vector<Json>> entries(const Params& params, const std::string& key);

  bool isEmpty() const;
  // Writes the edit into the contact; execution_failed when the contact lacks a key the
  // edit writes (a note the store would not hand out).
  void apply(platform::Contact& contact) const;

  std::vector<std::pair<ScalarField, std::string>> scalars;
  std::optional<std::vector<platform::LabeledText>> emails;
  std::optional<std::vector<platform::LabeledText>> phones;
  std::optional<std::vector<platform::LabeledValue<platform::PostalAddress>>> addresses;
  std::optional<std::vector<platform::LabeledText>> urls;
  std::optional<std::string> homePage;
  std::optional<std::optional<platform::ContactDate>> birthday;
  std::optional<bool> company;
};

}  // namespace wren

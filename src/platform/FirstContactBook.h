#pragma once

// Gives the contact store its first address book when access to contacts is granted, the
// way a new user account comes with an empty address book: when contacts/ under the data
// root holds no book (it is missing, or holds no visible folder), a book "Contacts" appears
// in it, as the folder default/ with the displayname "Contacts". A store that has a book
// stays as it is.
//
//   recordPrivacyDecision(PrivacyKind::Contacts, "granted");
//   ensureFirstContactBook();   // contacts/default/displayname = "Contacts"
//
// The book is assembled in a hidden folder and renamed into place without replacing
// anything, so that no reader sees it half made and concurrent grants (threads or
// processes) leave exactly one. Throws FileError when the book cannot be made.

namespace wren::platform {

void ensureFirstContactBook();

}  // namespace wren::platform

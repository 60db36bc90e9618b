#pragma once

// The folders of the contact store under the data root, read as they are at the moment of
// the call:
//
//   contacts/store.json   {"me": "<UID>", "sort": "family" | "given", "default": "<book>"}
//   contacts/<book>/      an address book: displayname, and one vCard per <name>.vcf
//
// This is the layout khard and vdirsyncer use, so a synchronised CardDAV storage folder
// can be linked in as a book. A book's id is its folder name; books are in byte order of
// their names; hidden folders are not books. A missing or malformed store.json means: no
// own card, sorted by family name, no default book.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wren::platform::contacts {

struct AddressBookFolder {
  std::string bookId;
  std::string title;  // from displayname, else the folder name
  std::filesystem::path folder;

  // The id the item index files the book's cards under.
  const std::string& id() const { return bookId; }
};

enum class SortBy { FamilyName, GivenName };

struct ContactStoreLayout {
  std::vector<AddressBookFolder> books;
  std::optional<std::string> meUid;          // the person's own card
  SortBy sortBy = SortBy::FamilyName;
  std::optional<std::string> defaultBookId;  // when it names one of `books`

  const AddressBookFolder* findBook(const std::string& id) const;
};

// contacts/ under the data root.
std::filesystem::path contactStoreFolder(const std::filesystem::path& dataRoot);

ContactStoreLayout readContactStoreLayout(const std::filesystem::path& store);

// The book new contacts go to: the default book, else the first one; when there is no book
// at all, a book "Contacts" is made first. Throws FileError when it cannot be made.
AddressBookFolder bookForNewContacts(const std::filesystem::path& store);

}  // namespace wren::platform::contacts

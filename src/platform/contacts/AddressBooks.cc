#include "platform/contacts/AddressBooks.h"

#include <errno.h>

#include "base/Json.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/FileError.h"
#include "platform/vdir/StoreLayout.h"

namespace wren::platform::contacts {

namespace {

constexpr const char* kNewBookName = "Contacts";

std::optional<std::string> stringKey(const Json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string() || found->get<std::string>().empty()) return std::nullopt;
  return found->get<std::string>();
}

AddressBookFolder readBook(const std::filesystem::path& store, const std::string& name) {
  AddressBookFolder book{name, name, store / name};
  if (std::optional<std::string> text = readFileIfPresent(book.folder / "displayname")) {
    std::string title = vdir::titleFromDisplayName(*text);
    if (!title.empty()) book.title = std::move(title);
  }
  return book;
}

}  // namespace

const AddressBookFolder* ContactStoreLayout::findBook(const std::string& id) const {
  for (const AddressBookFolder& book : books)
    if (book.bookId == id) return &book;
  return nullptr;
}

std::filesystem::path contactStoreFolder(const std::filesystem::path& dataRoot) { return dataRoot / "contacts"; }

ContactStoreLayout readContactStoreLayout(const std::filesystem::path& store) {
  ContactStoreLayout layout;
  for (const std::string& name : vdir::subfolders(store)) layout.books.push_back(readBook(store, name));
  const Json settings = vdir::readObject(store / "store.json");
  layout.meUid = stringKey(settings, "me");
  if (stringKey(settings, "sort") == "given") layout.sortBy = SortBy::GivenName;
  if (std::optional<std::string> book = stringKey(settings, "default"); book && layout.findBook(*book))
    layout.defaultBookId = book;
  return layout;
}

AddressBookFolder bookForNewContacts(const std::filesystem::path& store) {
  ContactStoreLayout layout = readContactStoreLayout(store);
  if (layout.defaultBookId) return *layout.findBook(*layout.defaultBookId);
  if (!layout.books.empty()) return layout.books.front();
  makeFolders(store);
  try {
    publishFolder(store / kNewBookName, [](const std::filesystem::path& staging) {
      writeFileAtomically(staging / "displayname", kNewBookName, Existing::Refuse);
    });
  } catch (const FileError& error) {
    // Another request or program made the book meanwhile: it serves as well.
    if (error.error() != EEXIST) throw;
  }
  return readBook(store, kNewBookName);
}

}  // namespace wren::platform::contacts

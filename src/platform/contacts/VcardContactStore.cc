#include "platform/contacts/VcardContactStore.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/DataRoot.h"
#include "platform/IcuSupport.h"
#include "platform/Text.h"
#include "platform/contacts/AddressBooks.h"
#include "platform/contacts/VCard.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Trash.h"
#include "platform/vdir/ItemTransaction.h"
#include "platform/vdir/StoreNames.h"

namespace wren::platform {

namespace contacts {

// A card as the index keeps it: its values and where it sorts by either name order.
struct StoredCard {
  vcard::Card card;
  std::string familyOrder;  // collation sort keys
  std::string givenOrder;
};

struct CardFile {
  std::vector<StoredCard> cards;
};

namespace {

// The collator of the process's locale, one per thread since collators are not safe to
// share. The POSIX locale's collation sorts upper case before all lower case, which no
// person expects of an address book, so it gives way to the root collation.
icu::Collator& collator() {
  thread_local std::unique_ptr<icu::Collator> instance = [] {
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !made) icuSupport::fail("Collator::createInstance", status);
    return made;
  }();
  return *instance;
}

// The sort keys of the parts one after the other, each with its terminating zero byte, so
// that byte order of the keys is the order of the first part, then of the next.
std::string sortKey(std::initializer_list<const std::string*> parts) {
  icu::Collator& compare = collator();
  std::string key;
  std::vector<uint8_t> buffer(64);
  for (const std::string* part : parts) {
    const icu::UnicodeString text = icuSupport::fromUtf8(*part);
    int32_t length = compare.getSortKey(text, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (length > static_cast<int32_t>(buffer.size())) {
      buffer.resize(static_cast<std::size_t>(length));
      length = compare.getSortKey(text, buffer.data(), length);
    }
    key.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(length));
  }
  return key;
}

void addSortKeys(StoredCard& stored) {
  const ContactFields& f = *stored.card.fields;
  const std::string& given = f.text(ContactKey::GivenName);
  const std::string& family = f.text(ContactKey::FamilyName);
  const std::string& middle = f.text(ContactKey::MiddleName);
  const std::string organization = trimWhitespace(f.text(ContactKey::OrganizationName));
  // A contact without a name sorts by what it is shown by: its organization, else its first
  // address or number.
  std::string shown = organization;
  if (shown.empty() && !f.emailAddresses.empty()) shown = f.emailAddresses.front().value;
  if (shown.empty() && !f.phoneNumbers.empty()) shown = f.phoneNumbers.front().value;
  const bool named = !(trimWhitespace(given).empty() && trimWhitespace(family).empty() && trimWhitespace(middle).empty());
  if (!named || (f.contactType == ContactType::Organization && !organization.empty())) {
    stored.familyOrder = stored.givenOrder = sortKey({&shown});
    return;
  }
  stored.familyOrder = sortKey({&family, &given, &middle});
  stored.givenOrder = sortKey({&given, &family, &middle});
}

}  // namespace

struct CardCodecTraits {
  using Parsed = CardFile;
  using Summary = std::size_t;  // the number of cards

  static std::shared_ptr<const Parsed> parse(std::string_view text) {
    auto file = std::make_shared<CardFile>();
    for (vcard::Card& card : vcard::readCards(text)) {
      StoredCard stored{std::move(card), {}, {}};
      addSortKeys(stored);
      file->cards.push_back(std::move(stored));
    }
    if (file->cards.empty()) return nullptr;
    return file;
  }
  static Summary summarize(const Parsed& file) { return file.cards.size(); }
};

}  // namespace contacts

namespace {

using contacts::AddressBookFolder;
using contacts::CardCodecTraits;
using contacts::ContactStoreLayout;
using contacts::StoredCard;
using ContactIndex = vdir::ItemIndex<CardCodecTraits, AddressBookFolder>;

// Cards carry their photos inline: a camera picture in base64 takes several MiB, more than
// any calendar item needs.
constexpr std::size_t kCardFileBytes = 64 * 1024 * 1024;
const vdir::ItemKind kCardFiles{".vcf", "contact", kCardFileBytes};

// One card of the store as one walk found it.
struct CardRef {
  const AddressBookFolder* book;
  ContactIndex::EntryPtr entry;
  std::size_t index;

  const StoredCard& stored() const { return entry->parsed->cards[index]; }
  const vcard::Card& card() const { return stored().card; }
  bool isContact() const { return card().kind == vcard::Card::Kind::Contact; }
};

// What a record of a stored contact is made from, prepared once per version of its file.
struct ContactBasis {
  std::string identifier;
  std::shared_ptr<const ContactFields> fields;
  std::shared_ptr<const ContactOrigin> origin;
  const vcard::Card* card;
};

// The contacts of the whole store in the person's order, as the last walk sorted them.
// Entries are immutable, so the same entries in the same order sort the same way: a walk
// that finds the store unchanged reuses the order instead of sorting again.
struct SortedContacts {
  contacts::SortBy sortBy = contacts::SortBy::FamilyName;
  std::vector<const ContactIndex::Entry*> files;  // the walk the order was made from
  std::vector<ContactIndex::EntryPtr> keepAlive;
  std::vector<ContactBasis> contacts;
};

// The state every store of one factory shares.
struct ContactCatalog {
  explicit ContactCatalog(vdir::ItemKind kind) : index(std::move(kind)) {}

  ContactIndex index;
  std::mutex sortedMutex;  // held while the order is checked and made
  std::shared_ptr<const SortedContacts> sorted;
};

// The id of card `index` of a file: the file's own id for its first card.
std::string cardId(const ContactIndex::Entry& entry, std::size_t index) {
  if (index == 0) return entry.origin->itemId;
  return vdir::itemIdFor(kCardFiles.idSalt, entry.origin->collectionId,
                         entry.origin->path.filename().string() + "#" + std::to_string(index + 1));
}

bool isIdentifierShape(const std::string& id) {
  return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

bool wants(const ContactKeys& keys, ContactKey key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); }

// Text the store cannot write into a vCard line faithfully: control characters other than
// tabs and line breaks (which TEXT values escape).
bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F;
  });
}

// The store's checks of a contact before it is written.
void validate(const Contact& contact) {
  auto check = [](std::string_view text, const char* what) {
    if (hasControlCharacter(text))
      throw ContactStoreError(contactError::kValidationTypeMismatch,
                              std::string("the ") + what + " holds a control character");
  };
  const ContactFields& f = contact.fields();
  for (std::size_t i = 0; i < kContactKeyCount; ++i) {
    const auto key = static_cast<ContactKey>(i);
    if (isTextKey(key) && key != ContactKey::Identifier && contact.isKeyAvailable(key)) check(f.text(key), "name or note");
  }
  for (const LabeledText& email : contact.emailAddresses()) check(email.value + email.label.value_or(""), "email address");
  for (const LabeledText& phone : contact.phoneNumbers()) check(phone.value + phone.label.value_or(""), "phone number");
  for (const LabeledText& url : contact.urlAddresses()) check(url.value + url.label.value_or(""), "URL");
  for (const auto& address : contact.postalAddresses()) {
    const PostalAddress& a = address.value;
    check(a.street + a.city + a.state + a.postalCode + a.country + a.isoCountryCode + address.label.value_or(""),
          "postal address");
  }
}

class VcardContactStore : public ContactStore {
 public:
  explicit VcardContactStore(std::shared_ptr<ContactCatalog> catalog)
      : catalog_(std::move(catalog)), index_(catalog_->index), folder_(contacts::contactStoreFolder(dataRoot())) {}

  Contact unifiedContact(const std::string& identifier, const ContactKeys& keys) override {
    if (!isIdentifierShape(identifier))
      throw ContactStoreError(contactError::kRecordIdentifierInvalid, "\"" + identifier + "\" is not a contact identifier");
    const ContactStoreLayout layout = readLayout();
    if (std::optional<CardRef> found = locate(layout, identifier)) return contactOf(*found, keys);
    throw ContactStoreError(contactError::kRecordDoesNotExist, "no contact has the identifier " + identifier);
  }

  Contact unifiedMeContact(const ContactKeys& keys) override {
    const ContactStoreLayout layout = readLayout();
    if (!layout.meUid)
      throw ContactStoreError(contactError::kRecordDoesNotExist, "no card is marked as the person's own (\"me\" in " +
                                                                     (folder_ / "store.json").string() + ")");
    for (const CardRef& ref : allCards(layout))
      if (ref.isContact() && ref.card().uid == *layout.meUid) return contactOf(ref, keys);
    throw ContactStoreError(contactError::kRecordDoesNotExist,
                            "no contact has the UID " + *layout.meUid + " that marks the person's own card");
  }

  void enumerateContacts(const ContactFetchRequest& request, const std::function<bool(const Contact&)>& body) override {
    const ContactStoreLayout layout = readLayout();
    const std::vector<CardRef> cards = allCards(layout);
    std::optional<std::unordered_set<std::string>> members;
    if (request.groupIdentifier) members = membersOf(cards, *request.groupIdentifier);
    const std::shared_ptr<const SortedContacts> sorted = sortedContacts(cards, layout.sortBy);
    const bool withPhoto = wants(request.keys, ContactKey::ImageData);
    for (const ContactBasis& basis : sorted->contacts) {
      if (members && !members->contains(basis.card->uid)) continue;
      Contact contact = withPhoto ? withPicture(basis, request.keys)
                                  : Contact(basis.identifier, basis.fields, request.keys, basis.origin);
      if (!body(contact)) return;
    }
  }

  std::vector<ContactGroup> groups() override {
    std::vector<ContactGroup> result;
    for (const CardRef& ref : allCards(readLayout()))
      if (!ref.isContact()) result.push_back({cardId(*ref.entry, ref.index), ref.card().groupName});
    return result;
  }

  std::vector<Contact> executeSaveRequest(const ContactSaveRequest& request) override {
    for (const ContactSaveRequest::Change& change : request.changes())
      if (change.kind != ContactSaveRequest::Kind::Delete) validate(change.contact);

    vdir::ItemTransaction transaction(kCardFiles.suffix);
    struct Written {
      AddressBookFolder book;
      std::string fileName;
      std::size_t cardIndex;
      ContactKeys keys;
    };
    std::vector<Written> written;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> renames;  // after commit
    for (const ContactSaveRequest::Change& change : request.changes()) {
      switch (change.kind) {
        case ContactSaveRequest::Kind::Add: {
          AddressBookFolder book = targetBook(change.containerIdentifier);
          const std::string text = vcard::newCardText(change.contact, vdir::freshName(), now());
          std::string name = transaction.add(book.folder, text);
          written.push_back({std::move(book), std::move(name), 0, change.contact.availableKeys()});
          break;
        }
        case ContactSaveRequest::Kind::Update: {
          const ContactOrigin& origin = storedOrigin(change.contact);
          transaction.checkUnchanged(*origin.file);
          transaction.replace(*origin.file, vcard::updatedFileText(origin.file->text, origin.cardIndex, change.contact, now()));
          written.push_back({bookOf(*origin.file), origin.file->path.filename().string(), origin.cardIndex,
                             change.contact.availableKeys()});
          break;
        }
        case ContactSaveRequest::Kind::Delete: {
          const ContactOrigin& origin = storedOrigin(change.contact);
          transaction.checkUnchanged(*origin.file);
          const std::filesystem::path& path = origin.file->path;
          std::optional<std::string> rest = vcard::fileTextWithout(origin.file->text, origin.cardIndex);
          if (!rest) {
            moveToTrash(path);
            break;
          }
          // The other cards of the file go to a new file first, then the whole file as it
          // was goes to the trash, and the new file takes its name.
          const std::string fresh = transaction.add(path.parent_path(), *rest);
          moveToTrash(path);
          renames.emplace_back(path.parent_path() / fresh, path);
          break;
        }
      }
    }
    transaction.commit();
    for (const auto& [from, to] : renames) {
      // The rest of the file keeps its fresh name when its old one was taken meanwhile.
      try {
        renameNoReplace(from, to);
      } catch (const std::exception&) {
      }
    }

    // Each saved file is read back on its own, so that a save costs the same however many
    // contacts the book holds; the index takes the change in at its next walk.
    std::vector<Contact> saved;
    for (const Written& file : written) {
      ContactIndex::EntryPtr entry = index_.readFile(file.book, file.fileName);
      if (!entry->parsed || file.cardIndex >= entry->parsed->cards.size())
        throw vdir::ItemWriteError("the saved file " + entry->origin->path.string() + " cannot be read back");
      saved.push_back(contactOf(CardRef{&file.book, entry, file.cardIndex}, file.keys));
    }
    return saved;
  }

 private:
  ContactStoreLayout readLayout() const { return contacts::readContactStoreLayout(folder_); }

  static std::vector<const AddressBookFolder*> everyBook(const ContactStoreLayout& layout) {
    std::vector<const AddressBookFolder*> books;
    for (const AddressBookFolder& book : layout.books) books.push_back(&book);
    return books;
  }

  // Every card of every book as the files are now, in book order, then file name order,
  // then order in the file.
  std::vector<CardRef> allCards(const ContactStoreLayout& layout) {
    const std::vector<const AddressBookFolder*> books = everyBook(layout);
    std::vector<CardRef> cards;
    for (const auto& bookFiles : index_.refresh(books)) {
      for (const ContactIndex::EntryPtr& entry : bookFiles.files)
        for (std::size_t i = 0; i < entry->parsed->cards.size(); ++i) cards.push_back({bookFiles.collection, entry, i});
    }
    index_.retain(books);
    return cards;
  }

  // The contacts among the cards in the person's order: the last walk's order when the
  // cards are the same, else sorted anew and kept for the next walk.
  std::shared_ptr<const SortedContacts> sortedContacts(const std::vector<CardRef>& cards, contacts::SortBy sortBy) {
    std::vector<const ContactIndex::Entry*> files;
    for (const CardRef& ref : cards)
      if (ref.index == 0) files.push_back(ref.entry.get());
    // One walk sorts at a time, so that walks that come together sort once.
    std::lock_guard lock(catalog_->sortedMutex);
    if (catalog_->sorted && catalog_->sorted->sortBy == sortBy && catalog_->sorted->files == files)
      return catalog_->sorted;
    auto sorted = std::make_shared<SortedContacts>();
    sorted->sortBy = sortBy;
    sorted->files = std::move(files);
    std::vector<const CardRef*> contacts;
    for (const CardRef& ref : cards) {
      if (ref.index == 0) sorted->keepAlive.push_back(ref.entry);
      if (ref.isContact()) contacts.push_back(&ref);
    }
    const bool byGiven = sortBy == contacts::SortBy::GivenName;
    std::stable_sort(contacts.begin(), contacts.end(), [&](const CardRef* a, const CardRef* b) {
      return byGiven ? a->stored().givenOrder < b->stored().givenOrder : a->stored().familyOrder < b->stored().familyOrder;
    });
    sorted->contacts.reserve(contacts.size());
    for (const CardRef* ref : contacts) sorted->contacts.push_back(basisOf(*ref));
    catalog_->sorted = sorted;
    return sorted;
  }

  std::optional<CardRef> locate(const ContactStoreLayout& layout, const std::string& identifier) {
    // The first card of a file is read from its file alone, found by the id the index
    // knows it under, so that a lookup costs the same in every size of book.
    if (auto located = index_.locate(identifier)) {
      if (const AddressBookFolder* book = layout.findBook(located->first)) {
        if (ContactIndex::EntryPtr entry = index_.readFile(*book, located->second);
            entry->parsed && entry->origin->itemId == identifier &&
            entry->parsed->cards.front().card.kind == vcard::Card::Kind::Contact)
          return CardRef{book, entry, 0};
      }
    }
    for (const CardRef& ref : allCards(layout))
      if (ref.isContact() && cardId(*ref.entry, ref.index) == identifier) return ref;
    return std::nullopt;
  }

  static std::unordered_set<std::string> membersOf(const std::vector<CardRef>& cards, const std::string& groupId) {
    for (const CardRef& ref : cards) {
      if (ref.isContact() || cardId(*ref.entry, ref.index) != groupId) continue;
      return {ref.card().memberUids.begin(), ref.card().memberUids.end()};
    }
    return {};
  }

  static ContactBasis basisOf(const CardRef& ref) {
    const vcard::Card& card = ref.card();
    return {cardId(*ref.entry, ref.index), card.fields,
            std::make_shared<ContactOrigin>(ContactOrigin{ref.entry->origin, ref.index, card.uid}), &card};
  }

  // A record with the picture, which the index does not keep: pictures are large and
  // rarely wanted, so they are read from the file's text when asked for.
  static Contact withPicture(const ContactBasis& basis, const ContactKeys& keys) {
    std::shared_ptr<const ContactFields> fields = basis.fields;
    if (basis.card->hasPhoto) {
      auto withPhoto = std::make_shared<ContactFields>(*fields);
      withPhoto->imageData = vcard::photoLine(basis.origin->file->text, basis.origin->cardIndex);
      fields = std::move(withPhoto);
    }
    return Contact(basis.identifier, std::move(fields), keys, basis.origin);
  }

  static Contact contactOf(const CardRef& ref, const ContactKeys& keys) {
    const ContactBasis basis = basisOf(ref);
    if (wants(keys, ContactKey::ImageData)) return withPicture(basis, keys);
    return Contact(basis.identifier, basis.fields, keys, basis.origin);
  }

  AddressBookFolder targetBook(const std::optional<std::string>& bookId) const {
    if (!bookId) return contacts::bookForNewContacts(folder_);
    const ContactStoreLayout layout = readLayout();
    if (const AddressBookFolder* book = layout.findBook(*bookId)) return *book;
    throw ContactStoreError(contactError::kRecordDoesNotExist, "there is no address book with id " + *bookId);
  }

  AddressBookFolder bookOf(const ItemOrigin& file) const {
    const ContactStoreLayout layout = readLayout();
    if (const AddressBookFolder* book = layout.findBook(file.collectionId)) return *book;
    throw ContactStoreError(contactError::kRecordDoesNotExist,
                            "the address book of " + file.path.string() + " is gone");
  }

  static const ContactOrigin& storedOrigin(const Contact& contact) {
    if (!contact.origin() || !contact.origin()->file)
      throw ContactStoreError(contactError::kRecordDoesNotExist, "the contact is not stored");
    return *contact.origin();
  }

  std::shared_ptr<ContactCatalog> catalog_;
  ContactIndex& index_;
  std::filesystem::path folder_;
};

}  // namespace

ContactStoreFactory makeVcardContactStores() {
  auto catalog = std::make_shared<ContactCatalog>(kCardFiles);
  return [catalog]() -> std::unique_ptr<ContactStore> { return std::make_unique<VcardContactStore>(catalog); };
}

}  // namespace wren::platform

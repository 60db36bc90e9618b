// The contacts methods run through the real helper over a temporary store of address books
// shaped like the exports of phones, desktop address books and CardDAV servers. What the
// helper writes and exports is read back with an independent vCard parser (Python's
// vobject) and with a command-line address book that reads the same folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/HelperProcess.h"
#include "support/StoreTestSupport.h"

namespace wren::testing {
namespace {

namespace fs = std::filesystem;
using platform::vdir::testing::runPython;

constexpr const char* kPython = "/usr/bin/python3";

// Prints, as one JSON array, every card of the vCard texts in the files named on the
// command line: its values as vobject reads them, and whether the text keeps the line rules.
constexpr const char* kDumpScript = R"PY(
import json, sys
import vobject
out = []
for path in sys.argv[1:]:
    raw = open(path, 'rb').read()
    text = raw.decode('utf-8')
    lines = raw.split(b'\r\n')
    for card in vobject.readComponents(text):
        labels = {}
        for child in card.getChildren():
            if child.name == 'X-ABLABEL' and child.group:
                labels[child.group] = child.value
        def entries(name):
            result = []
            for child in card.contents.get(name, []):
                value = child.value
                if name == 'adr':
                    value = [value.street, value.city, value.region, value.code, value.country]
                result.append({'value': value, 'types': [t.upper() for t in child.params.get('TYPE', [])],
                               'label': labels.get(child.group)})
            return result
        def text(name):
            return card.contents[name][0].value if name in card.contents else None
        n = card.contents['n'][0].value if 'n' in card.contents else None
        out.append({
            'uid': text('uid'), 'fn': text('fn'),
            'n': [n.family, n.given, n.additional, n.prefix, n.suffix] if n else None,
            'org': text('org'), 'title': text('title'), 'note': text('note'), 'bday': text('bday'),
            'emails': entries('email'), 'tels': entries('tel'), 'adrs': entries('adr'), 'urls': entries('url'),
            'photo': 'photo' in card.contents, 'custom': text('x-custom-thing'),
            'crlf': all(b'\n' not in line for line in lines) and raw.endswith(b'\r\n'),
            'folded': all(len(line) <= 75 for line in lines),
        })
print(json.dumps(out))
)PY";

// A valid JPEG header in base64, so that strict readers accept the picture.
constexpr const char* kPhoto = "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAMCAgICAgMCAgIDAwMDBAYEBAQEBAgGBgUGCQgKCgkICQkKDA8MCgsOCwkJDRENDg8QEBEQCgwSExIQEw8QEBD/";

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class ContactsE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    helper_.writeFile("wren/privacy.json", R"({"contacts":"granted"})");
    book("family", "Family");
    book("work", "Work");
    card("family", "anna.vcf",
         {"BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Apple Inc.//iPhone OS 17.0//EN", "N:Zeller;Anna;;;",
          "FN:Anna Zeller", "ORG:Acme;Research", "TITLE:Chemist", "item1.EMAIL;type=INTERNET;type=pref:anna@icloud.com",
          "item1.X-ABLabel:iCloud", "EMAIL;type=INTERNET;type=WORK:anna.zeller@acme.example",
          "TEL;type=CELL;type=VOICE;type=pref:+49 170 1234567", "item2.TEL:030 1234",
          "item2.X-ABLabel:Boat", "item3.ADR;type=HOME:;;Hauptstr. 1;Berlin;;10115;Deutschland", "item3.X-ABADR:de",
          "BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-14", "NOTE:Likes tea", "CATEGORIES:friends", "X-CUSTOM-THING:keep",
          kPhoto, "UID:anna-uid", "END:VCARD"});
    card("family", "zhang.vcf",
         {"BEGIN:VCARD", "VERSION:3.0", "N:张;三;;;", "FN:张三", "TEL;TYPE=CELL:+86 138-0013-8000", "UID:zhang-uid",
          "END:VCARD"});
    card("family", "zhangsan.vcf",
         {"BEGIN:VCARD", "VERSION:3.0", "N:Zhang;San;;;", "FN:San Zhang", "EMAIL:san@example.cn", "UID:zs-uid",
          "END:VCARD"});
    card("family", "mueller.vcf",
         {"BEGIN:VCARD", "VERSION:2.1", "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;;",
          "TEL;CELL:13800138000", "EMAIL;INTERNET:juergen@example.de", "END:VCARD"});
    card("family", "friends.vcf",
         {"BEGIN:VCARD", "VERSION:4.0", "KIND:group", "FN:Friends", "MEMBER:urn:uuid:anna-uid",
          "MEMBER:urn:uuid:zhang-uid", "UID:friends-uid", "END:VCARD"});
    card("family", "several.vcf",
         {"BEGIN:VCARD", "VERSION:3.0", "N:Berg;Bo;;;", "UID:bo-uid", "END:VCARD", "BEGIN:VCARD", "VERSION:3.0",
          "N:Berg;Cy;;;", "UID:cy-uid", "END:VCARD"});
    card("work", "acme.vcf",
         {"BEGIN:VCARD", "VERSION:4.0", "KIND:org", "FN:Acme GmbH", "ORG:Acme GmbH",
          "EMAIL;TYPE=work:info@acme.example", "UID:urn:uuid:acme-uid", "END:VCARD"});
    card("work", "me.vcf", {"BEGIN:VCARD", "VERSION:3.0", "N:User;Wren;;;", "UID:me-uid", "END:VCARD"});
    // What other programs leave in address books: the helper must read around it.
    helper_.writeFile("wren/contacts/work/junk.vcf", std::string("\x00\x01\xFF binary", 10));
    helper_.writeFile("wren/contacts/work/calendar.vcf", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
    helper_.writeFile("wren/contacts/work/unended.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Open;Olga;;;\r\n");
    helper_.writeFile("wren/contacts/work/photo.vcf",
                      crlf({"BEGIN:VCARD", "VERSION:3.0", "N:Bild;Paul;;;",
                            "PHOTO;ENCODING=b;TYPE=JPEG:" + std::string(10 * 1024 * 1024, 'A'), "END:VCARD"}));
  }

  void book(const std::string& name, const std::string& title) {
    helper_.writeFile("wren/contacts/" + name + "/displayname", title);
  }
  void card(const std::string& bookName, const std::string& file, const std::vector<std::string>& lines) {
    helper_.writeFile("wren/contacts/" + bookName + "/" + file, crlf(lines));
  }
  fs::path books() const { return helper_.dataRoot() / "contacts"; }

  // Runs the requests in one helper and gives the replies by id (1, 2, ...).
  HelperRun ask(const std::vector<std::pair<std::string, Json>>& requests) const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < requests.size(); ++i)
      lines.push_back(requestLine(static_cast<int64_t>(i + 1), requests[i].first, requests[i].second));
    HelperRun run = helper_.run(lines);
    EXPECT_EQ(run.exitStatus, 0);
    return run;
  }
  Json result(const std::string& method, const Json& params = Json::object()) const {
    const HelperRun run = ask({{method, params}});
    EXPECT_EQ(run.reply(1)["ok"], true) << run.out;
    return run.reply(1).value("result", Json());
  }
  Json error(const std::string& method, const Json& params = Json::object()) const {
    const HelperRun run = ask({{method, params}});
    EXPECT_EQ(run.reply(1)["ok"], false) << run.out;
    return run.reply(1).value("error", Json());
  }
  std::string idOf(const std::string& search) const {
    const Json listed = result("contacts.list", {{"search", search}});
    EXPECT_EQ(listed["total"], 1) << listed.dump();
    return listed["contacts"].empty() ? std::string() : listed["contacts"][0]["id"].get<std::string>();
  }
  std::vector<std::string> names(const Json& rows) const {
    std::vector<std::string> result;
    for (const Json& row : rows) result.push_back(row["name"]);
    return result;
  }

  // The cards of the files as vobject reads them.
  Json vobjectCards(const std::vector<fs::path>& files) const {
    std::vector<std::string> arguments;
    for (const fs::path& file : files) arguments.push_back(file.string());
    const platform::vdir::testing::PythonRun run = runPython(helper_.home(), kDumpScript, arguments);
    EXPECT_EQ(run.status, 0) << run.printed;
    return run.status == 0 ? Json::parse(run.printed) : Json::array();
  }
  // The one file of the book whose text holds `marker`.
  fs::path fileWith(const std::string& bookName, const std::string& marker) const {
    fs::path found;
    for (const auto& entry : fs::directory_iterator(books() / bookName)) {
      const std::string text = HelperProcess::readFile(entry.path());
      if (text.find(marker) != std::string::npos) found = entry.path();
    }
    return found;
  }
  // What khard prints for its arguments, reading the family book (files that other
  // programs wrote and khard cannot take, such as vCard 2.1, are skipped).
  std::string khard(const std::string& arguments) const {
    const fs::path config = helper_.home() / "khard.conf";
    std::ofstream(config) << "[addressbooks]\n[[family]]\npath = " << (books() / "family").string()
                          << "/\n[general]\ndefault_action = list\n";
    return runCommand("HOME=" + quoted(helper_.home().string()) + " khard --skip-unparsable -c " + quoted(config.string()) + " " +
                      arguments + " 2>&1")
        .out;
  }
  static bool haveVobject() {
    return runCommand(std::string(kPython) + " -c 'import vobject' 2>/dev/null").status == 0;
  }

  HelperProcess helper_;
};

TEST_F(ContactsE2e, EveryMethodNeedsContactsAccess) {
  const struct {
    const char* decision;
    const char* message;
  } cases[] = {
      {R"({})", "Wren has not been allowed to access Contacts on this Mac yet. Connect \"通讯录\" in Wren → Settings → "
                "Devices on this computer (macOS will ask once)."},
      {R"({"contacts":"denied"})",
       "macOS has not allowed Wren to access Contacts: System Settings → Privacy & Security → Contacts → turn on Wren."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.decision);
    helper_.writeFile("wren/privacy.json", c.decision);
    std::vector<std::pair<std::string, Json>> requests;
    for (const char* method : {"contacts.list", "contacts.get", "contacts.me", "contacts.create", "contacts.update",
                               "contacts.delete", "contacts.export"})
      requests.push_back({method, {{"id", "x"}, {"name", "Anna"}, {"firstName", "A"}, {"confirmed", true}}});
    const HelperRun run = ask(requests);
    for (std::size_t i = 1; i <= requests.size(); ++i) {
      EXPECT_EQ(run.error(i)["code"], "os_permission");
      EXPECT_EQ(run.error(i)["message"], c.message);
      EXPECT_EQ(run.error(i)["details"],
                (Json{{"settingsUrl", "x-apple.systempreferences:com.apple.preference.security?Privacy_Contacts"}}));
    }
  }
}

TEST_F(ContactsE2e, ListsEveryReadableContactInThePersonsOrder) {
  const Json listed = result("contacts.list");
  EXPECT_EQ(names(listed["contacts"]),
            (std::vector<std::string>{"Acme GmbH", "Bo Berg", "Cy Berg", "Paul Bild", "Jürgen Müller", "Olga Open",
                                      "Wren User", "Anna Zeller", "San Zhang", "张三"}));
  EXPECT_EQ(listed["total"], 10);
  EXPECT_EQ(listed["truncated"], false);
  const Json& anna = listed["contacts"][7];
  EXPECT_EQ(anna, (Json{{"id", anna["id"]},
                        {"name", "Anna Zeller"},
                        {"organization", "Acme"},
                        {"job_title", "Chemist"},
                        {"emails", Json::array({{{"value", "anna@icloud.com"}, {"label", "iCloud"}},
                                                {{"value", "anna.zeller@acme.example"}, {"label", "work"}}})},
                        {"phones", Json::array({{{"value", "+49 170 1234567"}, {"label", "mobile"}},
                                                {{"value", "030 1234"}, {"label", "Boat"}}})},
                        {"birthday", "--03-14"}}));
  EXPECT_EQ(listed["contacts"][0]["company"], true);

  helper_.writeFile("wren/contacts/store.json", R"({"sort": "given"})");
  EXPECT_EQ(names(result("contacts.list", {{"limit", 3}})["contacts"]),
            (std::vector<std::string>{"Acme GmbH", "Anna Zeller", "Bo Berg"}));
}

TEST_F(ContactsE2e, SearchesNamesEmailsAndNumbers) {
  const struct {
    Json params;
    std::vector<std::string> found;
  } cases[] = {
      {{{"search", "zhang san"}}, {"San Zhang"}},
      {{{"search", "ZHANGSAN"}}, {"San Zhang"}},
      {{{"search", "张三"}}, {"张三"}},
      {{{"search", "muller"}}, {"Jürgen Müller"}},
      {{{"search", "ＡＮＮＡ"}}, {"Anna Zeller"}},
      {{{"search", "acme.example"}}, {"Acme GmbH", "Anna Zeller"}},
      {{{"search", "138 0013 8000"}}, {"Jürgen Müller", "张三"}},
      {{{"search", "+86 13800138000"}}, {"Jürgen Müller", "张三"}},
      {{{"search", "12"}}, {}},
      {{{"search", "   "}, {"limit", 1}}, {"Acme GmbH"}},
      {{{"group", "FRIENDS"}}, {"Anna Zeller", "张三"}},
      {{{"group", "friends"}, {"search", "anna"}}, {"Anna Zeller"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params.dump());
    const Json listed = result("contacts.list", c.params);
    EXPECT_EQ(names(listed["contacts"]), c.found);
  }
  EXPECT_EQ(result("contacts.list", {{"group", "Friends"}})["group"], "Friends");
  const Json limited = result("contacts.list", {{"limit", 0}});
  EXPECT_EQ(limited["returned"], 1);
  EXPECT_EQ(limited["truncated"], true);
  EXPECT_EQ(limited["total"], 10);
  EXPECT_EQ(error("contacts.list", {{"group", "Enemies"}})["message"],
            "No contact group named \"Enemies\". Groups on this Mac: Friends.");
  fs::remove(books() / "family/friends.vcf");
  EXPECT_EQ(error("contacts.list", {{"group", "Friends"}})["message"],
            "No contact group named \"Friends\": Contacts on this Mac has no groups. Leave group out.");
}

TEST_F(ContactsE2e, GetsOneContactByIdOrName) {
  const Json anna = result("contacts.get", {{"name", "anna"}});
  EXPECT_EQ(anna["first_name"], "Anna");
  EXPECT_EQ(anna["department"], "Research");
  EXPECT_EQ(anna["note"], "Likes tea");
  EXPECT_EQ(anna["addresses"], (Json::array({{{"label", "home"},
                                              {"street", "Hauptstr. 1"},
                                              {"city", "Berlin"},
                                              {"zip", "10115"},
                                              {"country", "Deutschland"},
                                              {"country_code", "de"},
                                              {"formatted", "Hauptstr. 1, Berlin 10115, Deutschland"}}})));
  EXPECT_EQ(anna["urls"], Json::array());
  EXPECT_EQ(result("contacts.get", {{"id", anna["id"]}, {"name", "zhang"}})["name"], "Anna Zeller");

  const Json several = result("contacts.get", {{"name", "berg"}});
  EXPECT_EQ(several["multiple"], true);
  EXPECT_EQ(several["total"], 2);
  EXPECT_EQ(names(several["candidates"]), (std::vector<std::string>{"Bo Berg", "Cy Berg"}));
  EXPECT_EQ(result("contacts.get", {{"name", "Bo Berg"}})["name"], "Bo Berg");

  EXPECT_EQ(error("contacts.get", {{"name", "acme.example"}})["message"],
            "No contact on this Mac matches the name \"acme.example\". Try contacts.list with a shorter search (it also "
            "matches emails and phone numbers).");
  EXPECT_EQ(error("contacts.get", {{"name", 5}})["message"], "name is required");
  const std::string unknown(32, 'f');
  EXPECT_EQ(error("contacts.get", {{"id", unknown}})["message"],
            "No contact with id " + unknown +
                " on this Mac (ids come from contacts.list / contacts.get; it may have been deleted).");
  EXPECT_EQ(error("contacts.get", {{"id", "../family/anna.vcf"}})["code"], "invalid_args");
}

TEST_F(ContactsE2e, TheOwnCard) {
  EXPECT_EQ(error("contacts.me")["message"],
            "This Mac has no \"My Card\" in Contacts (no card is marked as the person's own (\"me\" in " +
                (books() / "store.json").string() +
                ")). The person can set one in Contacts → Card → Make This My Card.");
  helper_.writeFile("wren/contacts/store.json", R"({"me": "me-uid"})");
  const Json me = result("contacts.me");
  EXPECT_EQ(me["name"], "Wren User");
  EXPECT_EQ(me["addresses"], Json::array());
  EXPECT_FALSE(me.contains("note_unavailable"));
}

TEST_F(ContactsE2e, CreatesContactsOthersCanRead) {
  EXPECT_EQ(error("contacts.create", {{"nickname", "x"}})["message"],
            "At least one of firstName, lastName or organization is required");
  EXPECT_EQ(error("contacts.create", {{"firstName", "Bo"}, {"company", true}})["message"],
            "organization is required when company is true");
  EXPECT_EQ(error("contacts.create", {{"firstName", "A\u0001"}})["message"],
            "Contacts rejected the change: the name or note holds a control character");

  const Json duplicate = error("contacts.create", {{"firstName", "san"}, {"lastName", "ZHANG"}});
  EXPECT_EQ(duplicate["code"], "needs_confirmation");
  EXPECT_EQ(duplicate["message"], "通讯录里已经有 1 位「san ZHANG」：「San Zhang」（san@example.cn）。还要再新建一个同名联系人吗？");
  EXPECT_EQ(duplicate["details"]["existing"][0]["name"], "San Zhang");

  const Json created = result("contacts.create", {{"firstName", "Lena"},
                                                  {"lastName", "Ost"},
                                                  {"organization", "Acme"},
                                                  {"emails", Json::array({{{"value", "lena@example.org"}, {"label", "家"}},
                                                                          {{"value", "l@example.org"}, {"label", "Alt, privat"}}})},
                                                  {"phones", Json::array({{{"value", "+49 151 555"}, {"label", "手机"}}})},
                                                  {"addresses", Json::array({{{"street", "Ring 2"}, {"city", "Köln"}, {"countryCode", "DE"}}})},
                                                  {"homePage", "https://lena.example/a,b"},
                                                  {"birthday", "1985-07-09"},
                                                  {"note", "Line one\nLine two; with, marks"}});
  EXPECT_EQ(created["name"], "Lena Ost");
  EXPECT_EQ(created["emails"][0], (Json{{"value", "lena@example.org"}, {"label", "home"}}));
  EXPECT_EQ(created["phones"][0]["label"], "mobile");
  EXPECT_EQ(created["urls"][0], (Json{{"value", "https://lena.example/a,b"}, {"label", "homepage"}}));
  EXPECT_EQ(created["birthday"], "1985-07-09");
  EXPECT_EQ(result("contacts.get", {{"id", created["id"]}})["note"], "Line one\nLine two; with, marks");

  const fs::path file = fileWith("family", "Lena");
  ASSERT_FALSE(file.empty()) << "new contacts go to the first book";
  if (haveVobject()) {
    const Json cards = vobjectCards({file});
    ASSERT_EQ(cards.size(), 1u);
    const Json& c = cards[0];
    EXPECT_EQ(c["fn"], "Lena Ost");
    EXPECT_EQ(c["n"], (Json::array({"Ost", "Lena", "", "", ""})));
    EXPECT_EQ(c["note"], "Line one\nLine two; with, marks");
    EXPECT_EQ(c["emails"][1]["label"], "Alt, privat");
    EXPECT_EQ(c["tels"][0]["types"], Json::array({"CELL"}));
    EXPECT_EQ(c["bday"], "1985-07-09");
    EXPECT_FALSE(c["uid"].get<std::string>().empty());
    EXPECT_TRUE(c["crlf"]);
    EXPECT_TRUE(c["folded"]);
  }
  if (haveCommand("khard")) {
    const std::string listed = khard("list");
    EXPECT_NE(listed.find("Lena Ost"), std::string::npos) << listed;
    EXPECT_NE(khard("email --parsable Lena").find("lena@example.org"), std::string::npos);
  }

  const Json second = result("contacts.create", {{"firstName", "san"}, {"lastName", "ZHANG"}, {"confirmed", true}});
  EXPECT_EQ(second["name"], "san ZHANG");
  EXPECT_EQ(result("contacts.list", {{"search", "zhangsan"}})["total"], 2);

  // With no book at all, the first contact makes one.
  fs::remove_all(books());
  const Json first = result("contacts.create", {{"organization", "Solo"}, {"company", true}});
  EXPECT_EQ(first["company"], true);
  EXPECT_EQ(HelperProcess::readFile(books() / "Contacts/displayname"), "Contacts");
}

TEST_F(ContactsE2e, UpdatesKeepWhatTheHelperDoesNotKnow) {
  const std::string id = idOf("anna zeller");
  EXPECT_EQ(error("contacts.update", {{"jobTitle", "x"}})["message"], "id is required");
  EXPECT_EQ(error("contacts.update", {{"id", id}})["message"], "Nothing to change: pass at least one field besides id");
  EXPECT_EQ(error("contacts.update", {{"id", id}, {"emails", "a@b"}})["message"], "emails must be an array");
  EXPECT_EQ(error("contacts.update", {{"id", std::string(32, 'e')}, {"jobTitle", "x"}})["message"],
            "No contact with id " + std::string(32, 'e') +
                " on this Mac (ids come from contacts.list / contacts.get; it may have been deleted).");
  EXPECT_EQ(error("contacts.update", {{"id", id}, {"firstName", ""}, {"lastName", " "}, {"organization", ""}})["message"],
            "The contact would be left without firstName, lastName and organization; keep at least one");

  const std::string before = HelperProcess::readFile(books() / "family/anna.vcf");
  const Json asked = error("contacts.update",
                           {{"id", id}, {"phones", Json::array({{{"value", "+49-170-123 4567"}}})}, {"note", ""}});
  EXPECT_EQ(asked["code"], "needs_confirmation");
  EXPECT_EQ(asked["message"], "修改「Anna Zeller」（Acme，+49 170 1234567）会删掉：备注「Likes tea」、电话 030 1234。确定吗？");
  EXPECT_EQ(asked["details"]["removes"], (Json::array({"备注「Likes tea」", "电话 030 1234"})));
  EXPECT_EQ(HelperProcess::readFile(books() / "family/anna.vcf"), before);

  const Json updated = result("contacts.update", {{"id", id}, {"jobTitle", "Head of Lab"}, {"birthday", "1990-03-14"}});
  EXPECT_EQ(updated["job_title"], "Head of Lab");
  EXPECT_EQ(updated["birthday"], "1990-03-14");
  EXPECT_EQ(updated["id"], id);
  const std::string after = HelperProcess::readFile(books() / "family/anna.vcf");
  for (const char* kept : {"\r\nCATEGORIES:friends\r\n", "\r\nX-CUSTOM-THING:keep\r\n", "\r\nitem2.X-ABLabel:Boat\r\n",
                           "\r\nitem3.X-ABADR:de\r\n", "\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/"})
    EXPECT_NE(after.find(kept), std::string::npos) << kept;
  EXPECT_NE(after.find("\r\nTITLE:Head of Lab\r\n"), std::string::npos);
  EXPECT_NE(after.find("\r\nBDAY:1990-03-14\r\n"), std::string::npos);

  const Json confirmed = result("contacts.update", {{"id", id},
                                                    {"phones", Json::array({{{"value", "+49-170-123 4567"}}})},
                                                    {"note", ""},
                                                    {"confirmed", true}});
  EXPECT_FALSE(confirmed.contains("note"));
  EXPECT_EQ(confirmed["phones"], (Json::array({{{"value", "+49-170-123 4567"}}})));
  if (haveVobject()) {
    const Json cards = vobjectCards({books() / "family/anna.vcf"});
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0]["custom"], "keep");
    EXPECT_EQ(cards[0]["title"], "Head of Lab");
    EXPECT_TRUE(cards[0]["photo"]);
    EXPECT_TRUE(cards[0]["folded"]);
  }
  if (haveCommand("khard")) {
    const std::string listed = khard("list");
    EXPECT_NE(listed.find("Anna Zeller"), std::string::npos) << listed;
  }
}

TEST_F(ContactsE2e, UpdatesACardOfAFileThatHoldsSeveral) {
  const std::string id = idOf("cy berg");
  const Json updated = result("contacts.update", {{"id", id}, {"nickname", "Cyrus"}});
  EXPECT_EQ(updated["nickname"], "Cyrus");
  const std::string text = HelperProcess::readFile(books() / "family/several.vcf");
  EXPECT_NE(text.find("N:Berg;Bo;;;"), std::string::npos);
  EXPECT_NE(text.find("NICKNAME:Cyrus"), std::string::npos);
}

TEST_F(ContactsE2e, DeletesOnlyWhenConfirmedIntoTheTrash) {
  const std::string id = idOf("张三");
  EXPECT_EQ(error("contacts.delete")["message"], "id is required");
  EXPECT_EQ(error("contacts.delete", {{"id", std::string(32, 'd')}})["code"], "invalid_args");
  const Json asked = error("contacts.delete", {{"id", id}, {"confirmed", "true"}});
  EXPECT_EQ(asked["code"], "needs_confirmation");
  EXPECT_EQ(asked["message"], "要从这台电脑的通讯录里删除「张三」（+86 138-0013-8000）吗？删除后无法撤销。");
  EXPECT_EQ(asked["details"]["contact"]["name"], "张三");
  EXPECT_TRUE(fs::exists(books() / "family/zhang.vcf"));

  EXPECT_EQ(result("contacts.delete", {{"id", id}, {"confirmed", true}}),
            (Json{{"deleted", true}, {"id", id}, {"name", "张三"}}));
  EXPECT_FALSE(fs::exists(books() / "family/zhang.vcf"));
  EXPECT_TRUE(fs::exists(helper_.home() / ".local/share/Trash/files/zhang.vcf"));
  EXPECT_TRUE(fs::exists(helper_.home() / ".local/share/Trash/info/zhang.vcf.trashinfo"));
  EXPECT_EQ(error("contacts.get", {{"id", id}})["code"], "invalid_args");
}

TEST_F(ContactsE2e, ExportsVcardsWithoutPictures) {
  const Json one = result("contacts.export", {{"id", idOf("anna zeller")}});
  EXPECT_EQ(one["total"], 1);
  EXPECT_EQ(one["returned"], 1);
  EXPECT_EQ(one["truncated"], false);
  const std::string vcard = one["contacts"][0]["vcard"];
  EXPECT_EQ(one["bytes"], vcard.size());
  EXPECT_EQ(vcard.find("PHOTO"), std::string::npos);
  EXPECT_NE(vcard.find("UID:anna-uid\r\n"), std::string::npos);

  const Json byName = result("contacts.export", {{"name", "berg"}});
  EXPECT_EQ(byName["returned"], 2);
  EXPECT_EQ(names(byName["contacts"]), (std::vector<std::string>{"Bo Berg", "Cy Berg"}));
  EXPECT_EQ(error("contacts.export", {{"name", "nobody"}})["message"],
            "No contact on this Mac matches the name \"nobody\". Use contacts.list to search.");
  EXPECT_EQ(error("contacts.export")["message"], "name is required");

  const Json pictured = result("contacts.export", {{"name", "Paul Bild"}});
  EXPECT_LT(pictured["bytes"].get<int64_t>(), 1000);

  if (haveVobject()) {
    std::vector<fs::path> files;
    int n = 0;
    for (const Json& entry : byName["contacts"]) {
      files.push_back(helper_.home() / ("export" + std::to_string(n++) + ".vcf"));
      std::ofstream(files.back(), std::ios::binary) << entry["vcard"].get<std::string>();
    }
    files.push_back(helper_.home() / "anna.vcf");
    std::ofstream(files.back(), std::ios::binary) << vcard;
    const Json cards = vobjectCards(files);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(cards[2]["fn"], "Anna Zeller");
    EXPECT_EQ(cards[2]["emails"][0]["label"], "iCloud");
    EXPECT_FALSE(cards[2]["photo"]);
    for (const Json& c : cards) EXPECT_TRUE(c["crlf"] && c["folded"]) << c.dump();
  }
}

TEST_F(ContactsE2e, ExportStopsBeforeTheContactThatPassesTheBudget) {
  for (int i = 0; i < 3; ++i) {
    const std::size_t size = i == 1 ? 200000 : 100000;
    card("work", "big" + std::to_string(i) + ".vcf",
         {"BEGIN:VCARD", "VERSION:3.0", "N:Gross;Gabi" + std::to_string(i) + ";;;",
          "NOTE:" + std::string(size, 'n'), "END:VCARD"});
  }
  const Json exported = result("contacts.export", {{"name", "gross"}});
  EXPECT_EQ(exported["total"], 3);
  EXPECT_EQ(exported["returned"], 1);
  EXPECT_EQ(exported["truncated"], true);
  EXPECT_LE(exported["bytes"].get<int64_t>(), 262144);
}

}  // namespace
}  // namespace wren::testing

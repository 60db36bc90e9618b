// Contacts: 10,000 contacts generated at run time (Latin and Chinese names, two or three
// email addresses, phone numbers with and without country codes) in one address book. The
// helper answers contacts.list with a name, a squashed name, an email fragment and a phone
// number, and contacts.get by name, cold (a fresh process) and warm (the same process
// again); khard searches the same folder in the same run. Then the cost of a write (create
// and update) is compared between a book of 1,000 and one of 10,000 contacts.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "StoreFixture.h"

using namespace wren::bench;

namespace {

const char* kGiven[] = {"Anna", "Bernd", "Clara", "David", "Emma", "Felix", "Greta", "Hannes", "Ida", "Jonas",
                        "Karla", "Lukas", "Mia", "Noah", "Olga", "Paul", "Quirin", "Rosa", "Stefan", "Tilda"};
const char* kFamily[] = {"Weber", "Müller", "Schmidt", "Fischer", "Wagner", "Becker", "Hoffmann", "Schäfer",
                         "Koch", "Richter", "Klein", "Wolf", "Neumann", "Schwarz", "Zimmermann", "Braun",
                         "Krüger", "Hartmann", "Lange", "Werner"};
const char* kChineseFamily[] = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄", "周", "吴"};
const char* kChineseGiven[] = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "明", "华"};

std::string crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string number(int i, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, i);
  return text;
}

// Contact i: two thirds Latin names with German numbers, one third Chinese names with
// Chinese numbers; every other number is written with its country code.
std::string contactCard(int i) {
  std::vector<std::string> lines = {"BEGIN:VCARD", "VERSION:3.0", "UID:bench-" + std::to_string(i)};
  const bool chinese = i % 3 == 2;
  const std::string serial = number(i, 5);
  if (chinese) {
    const std::string family = kChineseFamily[i % 10], given = kChineseGiven[(i / 10) % 12];
    lines.push_back("N:" + family + ";" + given + ";;;");
    lines.push_back("FN:" + family + given);
    lines.push_back("EMAIL;TYPE=HOME:user" + serial + "@example.cn");
    lines.push_back("TEL;TYPE=CELL:" + (i % 2 ? "+86 138-" + serial.substr(0, 4) + "-" + number(i % 10000, 4)
                                              : "138 " + serial.substr(0, 4) + " " + number(i % 10000, 4)));
  } else {
    const std::string family = kFamily[i % 20], given = kGiven[(i / 20) % 20];
    lines.push_back("N:" + family + ";" + given + ";;;");
    lines.push_back("FN:" + given + " " + family);
    lines.push_back("EMAIL;TYPE=HOME:" + given + "." + family + serial + "@example.org");
    lines.push_back("EMAIL;TYPE=WORK:" + given.substr(0, 1) + serial + "@work.example");
    lines.push_back("item1.EMAIL:old" + serial + "@mail.example");
    lines.push_back("item1.X-ABLabel:Alt");
    lines.push_back("TEL;TYPE=CELL:" + (i % 2 ? "+49 170 " + serial + "0" : "0170 " + serial + "0"));
    lines.push_back("TEL;TYPE=WORK:030 " + serial);
    lines.push_back("ORG:Firma " + std::to_string(i % 50));
  }
  lines.push_back("END:VCARD");
  return crlf(lines);
}

void writeStore(const TempHome& home, int count) {
  TempHome::write(home.dataRoot() / "privacy.json", R"({"contacts":"granted"})");
  const std::filesystem::path book = home.dataRoot() / "contacts/bench";
  TempHome::write(book / "displayname", "Bench");
  for (int i = 0; i < count; ++i) TempHome::write(book / ("c" + std::to_string(i) + ".vcf"), contactCard(i));
  TempHome::write(book / "quist.vcf", crlf({"BEGIN:VCARD", "VERSION:3.0", "UID:quist", "N:Quist;Zoltan;;;",
                                             "FN:Zoltan Quist", "EMAIL:zoltan@example.org", "END:VCARD"}));
  TempHome::write(home.home() / "khard.conf", "[addressbooks]\n[[bench]]\npath = " + book.string() +
                                                  "/\n[general]\ndefault_action = list\n");
}

HelperFigures measure(const TempHome& home, const std::string& request, int warmRounds) {
  return measureHelper(WREN_HELPER_PATH, home.env(), request, warmRounds);
}

// The "total" of a contacts.list reply or of a contacts.get reply with candidates; a get
// that answers with one contact found one.
long totalOf(const std::string& reply) {
  const std::size_t at = reply.find("\"total\":");
  return at == std::string::npos ? 1 : std::atol(reply.c_str() + at + 8);
}

struct Writes {
  double create = 0;
  double update = 0;
};

// Median times of creating and of updating a contact in a warm helper.
Writes measureWrites(const TempHome& home) {
  InteractiveProcess helper({WREN_HELPER_PATH}, home.env());
  const std::string listed = helper.request(R"({"id":1,"method":"contacts.list","params":{"search":"Zoltan"}})");
  const std::size_t at = listed.find("\"id\":\"");
  const std::string id = at == std::string::npos ? "" : listed.substr(at + 6, 32);
  std::vector<double> creates, updates;
  for (int i = 0; i < 30; ++i) {
    creates.push_back(timeIt([&] {
      helper.request(R"({"id":2,"method":"contacts.create","params":{"firstName":"Neu)" + std::to_string(i) +
                     R"(","lastName":"Kontakt","phones":[{"value":"+49 30 )" + std::to_string(i) +
                     R"("}],"confirmed":true}})");
    }));
    updates.push_back(timeIt([&] {
      helper.request(R"({"id":3,"method":"contacts.update","params":{"id":")" + id +
                     R"(","jobTitle":"Title )" + std::to_string(i) + R"("}})");
    }));
  }
  helper.finish();
  return {median(creates), median(updates)};
}

}  // namespace

int main(int argc, char** argv) {
  TempHome home(argc > 1 ? argv[1] : nullptr);
  writeStore(home, 10000);
  if (home.kept()) return 0;

  struct Search {
    const char* what;
    std::string request;
    std::string khardQuery;
  };
  const std::vector<Search> searches = {
      {"name", R"({"id":1,"method":"contacts.list","params":{"search":"Greta Weber"}})", "Greta Weber"},
      {"squashed name", R"({"id":1,"method":"contacts.list","params":{"search":"gretaweber"}})", "gretaweber"},
      {"email fragment", R"({"id":1,"method":"contacts.list","params":{"search":"weber00120@"}})", "weber00120@"},
      {"phone number", R"({"id":1,"method":"contacts.list","params":{"search":"13800020023"}})", "13800020023"},
      {"get by name", R"({"id":1,"method":"contacts.get","params":{"name":"Zoltan Quist"}})", "Zoltan Quist"},
  };
  const std::vector<std::string> khardEnv = {"HOME=" + home.home().string()};
  std::printf("store: 10001 contacts in one address book\n");
  double worstWarmRatio = 1e9, worstColdRatio = 1e9;
  long peak = 0;
  for (const Search& search : searches) {
    const HelperFigures helper = measure(home, search.request, 20);
    if (helper.firstReply.find("\"ok\":true") == std::string::npos) {
      std::fprintf(stderr, "%s failed: %s\n", search.what, helper.firstReply.substr(0, 300).c_str());
      return 1;
    }
    const ProcessRun khard =
        runProcess({"khard", "-c", (home.home() / "khard.conf").string(), "list", search.khardQuery}, "", khardEnv);
    const long khardFound = khard.exitStatus == 0 ? static_cast<long>(lineCount(khard.out)) - 2 : 0;
    std::printf("%-15s helper cold %7.1f ms, warm %6.2f ms, found %ld | khard %7.0f ms, found %ld | ratio warm %6.0f, cold %5.1f\n",
                search.what, helper.cold * 1000, helper.warm * 1000, totalOf(helper.firstReply), khard.seconds * 1000,
                std::max(0L, khardFound), khard.seconds / helper.warm, khard.seconds / helper.cold);
    worstWarmRatio = std::min(worstWarmRatio, khard.seconds / helper.warm);
    worstColdRatio = std::min(worstColdRatio, khard.seconds / helper.cold);
    peak = std::max(peak, helper.rssKiB);
  }
  std::printf("lowest ratio khard/helper: warm %.0f (target >= 100), cold %.1f (target >= 10)\n", worstWarmRatio,
              worstColdRatio);
  std::printf("helper peak RSS: %.1f MiB (target < 64)\n", peak / 1024.0);

  TempHome small;
  writeStore(small, 1000);
  const Writes atThousand = measureWrites(small);
  const Writes atTenThousand = measureWrites(home);
  std::printf("write at 1,000: create %.2f ms, update %.2f ms\n", atThousand.create * 1000, atThousand.update * 1000);
  std::printf("write at 10,000: create %.2f ms, update %.2f ms\n", atTenThousand.create * 1000,
              atTenThousand.update * 1000);
  return 0;
}

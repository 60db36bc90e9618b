#include "system/FinderTags.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>

#include "platform/FinderTagAttribute.h"
#include "support/TaggableFolder.h"
#include "support/TestSupport.h"

namespace wren {
namespace {

namespace fs = std::filesystem;
using testing::params;
using testing::TaggableFolder;

TEST(PosixMessage, ChoosesTheCodeAndTheWords) {
  struct Case {
    int error;
    ErrorCode code;
    const char* message;
  };
  const Case cases[] = {
      {EPERM, ErrorCode::ExecutionFailed,
       "macOS did not let Wren read /x/a.pdf (Privacy & Security → Files and Folders / Full Disk Access)"},
      {EACCES, ErrorCode::ExecutionFailed,
       "macOS did not let Wren read /x/a.pdf (Privacy & Security → Files and Folders / Full Disk Access)"},
      {ENOENT, ErrorCode::InvalidArgs, "not found: /x/a.pdf"},
      {ENOTSUP, ErrorCode::ExecutionFailed, "/x/a.pdf: Operation not supported"},
      {ENAMETOOLONG, ErrorCode::ExecutionFailed, "/x/a.pdf: File name too long"},
      {EIO, ErrorCode::ExecutionFailed, "/x/a.pdf: Input/output error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    HelperError error = posixMessage(c.error, "/x/a.pdf");
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.message(), c.message);
    EXPECT_FALSE(error.details().has_value());
  }
}

class FinderTagsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!folder_.usable()) GTEST_SKIP() << TaggableFolder::skipReason();
  }
  std::string file(const std::string& name) { return folder_.file(name, "contents").string(); }
  static Json tag(const std::string& name, const std::string& color) { return Json{{"name", name}, {"color", color}}; }

  TaggableFolder folder_;
};

TEST_F(FinderTagsTest, StoredStringsReadAsNameAndColour) {
  struct Case {
    std::string stored;
    Json entry;
  };
  const Case cases[] = {
      {"Work", tag("Work", "none")},
      {"Urgent\n6", tag("Urgent", "red")},
      {"Gray\n1", tag("Gray", "gray")},
      {"Orange\n7", tag("Orange", "orange")},
      {"None\n0", tag("None", "none")},
      {"Nine\n9", tag("Nine", "none")},
      {"Minus\n-1", tag("Minus", "none")},
      {"Text\nred", tag("Text", "none")},
      {"Empty\n", tag("Empty", "none")},
      {"Two\n6\n2", tag("Two", "none")},
      {"Huge\n99999999999999999999", tag("Huge", "none")},
      {"", tag("", "none")},
      {"\n4", tag("", "blue")},
  };
  std::string path = file("table.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    platform::writeTagStrings(path, {c.stored});
    EXPECT_EQ(readFinderTags(path), Json::array({c.entry}));
  }
}

TEST_F(FinderTagsTest, WritesWhatPlistlibReadsBack) {
  std::string path = file("project.txt");
  writeFinderTags(path, {tag("Project", "blue"), Json{{"name", "  Plain \n"}}, tag("Überfällig", "red")});
  Json python = testing::pythonTagAttribute(path);
  EXPECT_EQ(python["format"], "binary");
  EXPECT_EQ(python["strings"], Json::array({"Project\n4", "Plain", "Überfällig\n6"}));
  EXPECT_EQ(readFinderTags(path),
            Json::array({tag("Project", "blue"), tag("Plain", "none"), tag("Überfällig", "red")}));
}

TEST_F(FinderTagsTest, ReadsWhatOtherProgramsWroteInEitherFormat) {
  for (const char* format : {"binary", "xml"}) {
    SCOPED_TRACE(format);
    std::string path = file(std::string("from-python-") + format);
    ASSERT_TRUE(testing::pythonWriteTagAttribute(path, {"Work", "Urgent\n6", "日本\n3"}, format));
    EXPECT_EQ(readFinderTags(path), Json::array({tag("Work", "none"), tag("Urgent", "red"), tag("日本", "purple")}));
  }
}

TEST_F(FinderTagsTest, BadTagsWriteNothing) {
  struct Case {
    const char* what;
    Json tags;
    const char* message;
  };
  const Case cases[] = {
      {"no name", Json::array({Json{{"color", "red"}}}), "every tag needs a name"},
      {"a blank name", Json::array({tag(" \n\t", "red")}), "every tag needs a name"},
      {"a name that is no string", Json::array({Json{{"name", 5}}}), "every tag needs a name"},
      {"an inner line feed", Json::array({tag("two\nlines", "none")}), "tag names cannot contain line breaks"},
      {"a NUL", Json::array({tag(std::string("cut\0short", 9), "none")}), "tag names cannot contain NUL characters"},
      {"a capitalised colour", Json::array({tag("Work", "Red")}),
       "unknown tag color Red; use one of none, gray, green, purple, blue, yellow, red, orange"},
      {"a bad tag after a good one", Json::array({tag("Fine", "green"), tag("Bad", "pink")}),
       "unknown tag color pink; use one of none, gray, green, purple, blue, yellow, red, orange"},
  };
  std::string path = file("kept.txt");
  writeFinderTags(path, {tag("Keep", "green")});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Json> tags(c.tags.begin(), c.tags.end());
    EXPECT_EQ(testing::invalidArgsMessage([&] { writeFinderTags(path, tags); }), c.message);
    EXPECT_EQ(readFinderTags(path), Json::array({tag("Keep", "green")}));
  }
}

TEST_F(FinderTagsTest, AColourThatIsNoStringIsNone) {
  std::string path = file("colourless.txt");
  writeFinderTags(path, {Json{{"name", "Work"}, {"color", 6}}, Json{{"name", "Other"}, {"color", nullptr}}});
  EXPECT_EQ(testing::pythonTagAttribute(path)["strings"], Json::array({"Work", "Other"}));
}

TEST_F(FinderTagsTest, GetReportsEachPathOnItsOwn) {
  std::string tagged = file("tagged.txt");
  writeFinderTags(tagged, {tag("Work", "none")});
  std::string missing = (folder_.path() / "missing.txt").string();
  Json result = filesTagsGet(params(Json{{"paths", {tagged, missing, 42}}}.dump()));
  EXPECT_EQ(result, (Json{{"results",
                           {{{"path", tagged}, {"tags", Json::array({tag("Work", "none")})}},
                            {{"path", missing}, {"error", "not found: " + missing}}}}}));
  // One path may come as plain text, trimmed.
  Json single = filesTagsGet(params(Json{{"paths", "  " + tagged + "\n"}}.dump()));
  EXPECT_EQ(single["results"][0]["path"], tagged);
}

TEST_F(FinderTagsTest, GetNeedsPaths) {
  for (const char* text : {"{}", R"({"paths": []})", R"({"paths": "  "})", R"({"paths": 5})", R"({"paths": [1, 2]})"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(testing::invalidArgsMessage([&] { filesTagsGet(params(text)); }), "paths is required");
  }
}

TEST_F(FinderTagsTest, GetTakesTenThousandPaths) {
  std::string tagged = file("many.txt");
  writeFinderTags(tagged, {tag("Many", "yellow")});
  Json paths = Json::array();
  for (int i = 0; i < 10000; ++i) paths.push_back(i % 2 ? tagged : (folder_.path() / std::to_string(i)).string());
  auto start = std::chrono::steady_clock::now();
  Json result = filesTagsGet(params(Json{{"paths", paths}}.dump()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ASSERT_EQ(result["results"].size(), 10000u);
  EXPECT_EQ(result["results"][1]["tags"][0]["color"], "yellow");
  EXPECT_TRUE(result["results"][0].contains("error"));
}

TEST_F(FinderTagsTest, SetValidatesThenWritesAndReadsBack) {
  std::string path = file("set.txt");
  EXPECT_EQ(testing::invalidArgsMessage([&] { filesTagsSet(params(R"({"tags": []})")); }), "path is required");
  for (const std::string tags : {"", R"(, "tags": null)", R"(, "tags": {"name": "x"})", R"(, "tags": "Work")"}) {
    SCOPED_TRACE(tags);
    EXPECT_EQ(testing::invalidArgsMessage([&] { filesTagsSet(params(R"({"path": ")" + path + "\"" + tags + "}")); }),
              "tags is required (an empty list removes all tags)");
  }
  Json set = filesTagsSet(params(Json{{"path", path}, {"tags", {"skipped", 3, tag(" Project ", "blue")}}}.dump()));
  EXPECT_EQ(set, (Json{{"path", path}, {"tags", Json::array({tag("Project", "blue")})}}));
  // Elements that are no tag maps count as nothing: the list removes every tag.
  Json cleared = filesTagsSet(params(Json{{"path", path}, {"tags", {"Work", nullptr}}}.dump()));
  EXPECT_EQ(cleared, (Json{{"path", path}, {"tags", Json::array()}}));
  EXPECT_EQ(testing::pythonTagAttribute(path), (Json{{"absent", true}}));
  // Removing the tags of a file that has none succeeds as well.
  EXPECT_EQ(filesTagsSet(params(Json{{"path", path}, {"tags", Json::array()}}.dump()))["tags"], Json::array());
}

TEST_F(FinderTagsTest, SetOnAMissingFileIsInvalid) {
  std::string missing = (folder_.path() / "gone.txt").string();
  EXPECT_EQ(testing::invalidArgsMessage([&] {
              filesTagsSet(params(Json{{"path", missing}, {"tags", {tag("Work", "none")}}}.dump()));
            }),
            "not found: " + missing);
  EXPECT_EQ(testing::invalidArgsMessage([&] {
              filesTagsSet(params(Json{{"path", missing}, {"tags", Json::array()}}.dump()));
            }),
            "not found: " + missing);
}

TEST_F(FinderTagsTest, UnusualPathsAreAnsweredNotFeared) {
  std::string newline = file("line\nbreak.txt");
  std::string latin1 = file("caf\xe9.txt");
  fs::create_directory(folder_.path() / "folder");
  std::string folder = (folder_.path() / "folder").string();
  std::string link = (folder_.path() / "link").string();
  fs::create_symlink(newline, link);
  for (const std::string& path : {newline, folder, link}) {
    SCOPED_TRACE(path);
    Json set = filesTagsSet(params(Json{{"path", path}, {"tags", {tag("Odd", "purple")}}}.dump()));
    EXPECT_EQ(set["tags"], Json::array({tag("Odd", "purple")}));
  }
  // A name that is no valid UTF-8 cannot travel in JSON, but the functions take it.
  writeFinderTags(latin1, {tag("Odd", "purple")});
  EXPECT_EQ(readFinderTags(latin1), Json::array({tag("Odd", "purple")}));
  EXPECT_EQ(readFinderTags(newline), Json::array({tag("Odd", "purple")}));

  std::string fifo = (folder_.path() / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(readFinderTags(fifo), Json::array());
  try {
    writeFinderTags(fifo, {tag("Work", "none")});
    ADD_FAILURE() << "a FIFO took a tag";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::ExecutionFailed);
    EXPECT_EQ(error.message(), fifo + ": Operation not supported");
  }

  std::string tooLong = folder_.path().string() + "/" + std::string(5000, 'n');
  Json result = filesTagsGet(params(Json{{"paths", {tooLong}}}.dump()));
  EXPECT_EQ(result["results"][0]["error"], tooLong + ": File name too long");
}

}  // namespace
}  // namespace wren

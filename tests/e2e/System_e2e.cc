// The files and system methods run through the built helper: tags on files in a temporary
// folder, checked with Python's plistlib, and this machine's volumes, processes and power.

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/HelperProcess.h"
#include "support/TaggableFolder.h"

namespace wren::testing {
namespace {

Json tag(const std::string& name, const std::string& color) { return Json{{"name", name}, {"color", color}}; }

class SystemE2e : public ::testing::Test {
 protected:
  HelperProcess helper_;
};

class TagsE2e : public SystemE2e {
 protected:
  void SetUp() override {
    if (!folder_.usable()) GTEST_SKIP() << TaggableFolder::skipReason();
  }
  TaggableFolder folder_;
};

TEST_F(TagsE2e, SetTagsReadBackInPlistlibAndTheHelper) {
  std::string report = folder_.file("Q3 report.pdf", "%PDF-1.7").string();
  // Requests of one batch run concurrently, so the read back is a second run.
  HelperRun set = helper_.run({requestLine(
      1, "files.tags.set",
      {{"path", report}, {"tags", {tag("Project", "blue"), tag("  Work  ", "none"), tag("急", "red")}}})});
  HelperRun get = helper_.run({requestLine(2, "files.tags.get", {{"paths", {report}}})});
  EXPECT_EQ(set.result(1),
            (Json{{"path", report}, {"tags", {tag("Project", "blue"), tag("Work", "none"), tag("急", "red")}}}));
  EXPECT_EQ(get.result(2), (Json{{"results", {{{"path", report}, {"tags", set.result(1)["tags"]}}}}}));
  Json python = pythonTagAttribute(report);
  EXPECT_EQ(python["format"], "binary");
  EXPECT_EQ(python["strings"], Json::array({"Project\n4", "Work", "急\n6"}));
}

TEST_F(TagsE2e, TagsOtherProgramsWroteAreRead) {
  std::string photo = folder_.file("photo.jpg").string();
  ASSERT_TRUE(pythonWriteTagAttribute(photo, {"Urgent\n6", "Holiday"}, "xml"));
  HelperRun run = helper_.run({requestLine(1, "files.tags.get", {{"paths", photo}})});
  EXPECT_EQ(run.result(1)["results"][0]["tags"], Json::array({tag("Urgent", "red"), tag("Holiday", "none")}));
}

TEST_F(TagsE2e, FailuresKeepTheirMessages) {
  std::string file = folder_.file("notes.txt").string();
  std::string missing = (folder_.path() / "missing.txt").string();
  HelperRun run = helper_.run({
      requestLine(1, "files.tags.get", {{"paths", {file, missing}}}),
      requestLine(2, "files.tags.get"),
      requestLine(3, "files.tags.set", {{"path", file}, {"tags", {tag("Work", "Red")}}}),
      requestLine(4, "files.tags.set", {{"path", file}}),
      requestLine(5, "files.tags.set", {{"tags", Json::array()}}),
      requestLine(6, "files.tags.set", {{"path", missing}, {"tags", {tag("Work", "none")}}}),
      requestLine(7, "files.tags.set", {{"path", file}, {"tags", {{{"color", "red"}}}}}),
  });
  EXPECT_EQ(run.result(1)["results"][1], (Json{{"path", missing}, {"error", "not found: " + missing}}));
  const std::pair<int, const char*> failures[] = {
      {2, "paths is required"},
      {3, "unknown tag color Red; use one of none, gray, green, purple, blue, yellow, red, orange"},
      {4, "tags is required (an empty list removes all tags)"},
      {5, "path is required"},
      {7, "every tag needs a name"},
  };
  for (const auto& [id, message] : failures) {
    SCOPED_TRACE(id);
    EXPECT_EQ(run.error(id), (Json{{"code", "invalid_args"}, {"message", message}}));
  }
  EXPECT_EQ(run.error(6), (Json{{"code", "invalid_args"}, {"message", "not found: " + missing}}));
  EXPECT_EQ(pythonTagAttribute(file), (Json{{"absent", true}}));
}

TEST_F(TagsE2e, TenThousandPathsInOneRequest) {
  std::string file = folder_.file("shared.txt").string();
  ASSERT_TRUE(pythonWriteTagAttribute(file, {"Shared\n3"}, "binary"));
  Json paths = Json::array();
  for (int i = 0; i < 10000; ++i) paths.push_back(file);
  HelperRun run = helper_.run({requestLine(1, "files.tags.get", {{"paths", paths}})});
  const Json& results = run.result(1)["results"];
  ASSERT_EQ(results.size(), 10000u);
  EXPECT_EQ(results[9999]["tags"], Json::array({tag("Shared", "purple")}));
}

TEST_F(SystemE2e, VolumesListTheRootWithEveryKey) {
  HelperRun run = helper_.run({requestLine(1, "files.volumes", {{"ignored", true}})});
  const Json* root = nullptr;
  for (const Json& volume : run.result(1)["volumes"])
    if (volume["mountPoint"] == "/") root = &volume;
  ASSERT_NE(root, nullptr) << run.out;
  std::vector<std::string> keys;
  for (const auto& item : root->items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"name", "mountPoint", "fileSystem", "format", "totalBytes", "freeBytes",
                                            "usedBytes", "device", "isRoot", "isInternal", "isLocal", "isEjectable",
                                            "isRemovable", "isReadOnly", "isEncrypted"}));
  EXPECT_EQ((*root)["isRoot"], true);
  EXPECT_GT((*root)["totalBytes"].get<int64_t>(), 0);
}

TEST_F(SystemE2e, FootprintsOfLiveProcessesOnly) {
  int self = getpid();
  HelperRun run = helper_.run({
      requestLine(1, "process.footprint", {{"pids", {self, 0, -5, "123", self}}}),
      requestLine(2, "process.footprint", {{"pids", "not a list"}}),
  });
  const Json& footprints = run.result(1)["footprints"];
  ASSERT_EQ(footprints.size(), 1u);
  EXPECT_GT(footprints[std::to_string(self)].get<int64_t>(), 0);
  EXPECT_EQ(run.result(2), (Json{{"footprints", Json::object()}}));
}

TEST_F(SystemE2e, BatteryStatusAlwaysAnswers) {
  HelperRun run = helper_.run({requestLine(1, "battery.status"), requestLine(2, "battery.status", {{"x", 1}})});
  for (int id : {1, 2}) {
    SCOPED_TRACE(id);
    const Json& status = run.result(id);
    ASSERT_EQ(status.size(), 5u);
    EXPECT_EQ(status["has_battery"], !status["batteries"].empty());
    EXPECT_TRUE(status["providing_power_source"].is_string());
    EXPECT_TRUE(status["low_power_mode"].is_boolean());
    EXPECT_TRUE(status["thermal_state"] == "nominal" || status["thermal_state"] == "fair" ||
                status["thermal_state"] == "serious" || status["thermal_state"] == "critical");
  }
}

}  // namespace
}  // namespace wren::testing

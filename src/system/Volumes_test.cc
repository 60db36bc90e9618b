#include "system/Volumes.h"

#include <gtest/gtest.h>

#include "app/HelperError.h"

namespace wren {
namespace {

TEST(LastPathComponent, NamesTheFolderAsAFileManagerDoes) {
  const std::pair<const char*, const char*> cases[] = {
      {"/media/ann/USB", "USB"}, {"/media/ann/USB/", "USB"}, {"/", "/"}, {"//", "/"},
      {"/home", "home"},         {"relative", "relative"},   {"", ""},
  };
  for (const auto& [path, name] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(lastPathComponent(path), name);
  }
}

TEST(VolumeEntry, FillsEveryKeyInOrder) {
  platform::VolumeFacts stick;
  stick.mountPoint = "/media/ann/My Stick";
  stick.label = "My Stick";
  stick.fileSystemType = "vfat";
  stick.format = "FAT32";
  stick.totalBytes = 32000000000;
  stick.availableBytes = 12000000000;
  stick.device = "/dev/sdb1";
  stick.isEjectable = true;
  stick.isRemovable = true;
  EXPECT_EQ(volumeEntry(stick).dump(),
            R"({"name":"My Stick","mountPoint":"/media/ann/My Stick","fileSystem":"vfat","format":"FAT32",)"
            R"("totalBytes":32000000000,"freeBytes":12000000000,"usedBytes":20000000000,"device":"/dev/sdb1",)"
            R"("isRoot":false,"isInternal":false,"isLocal":true,"isEjectable":true,"isRemovable":true,)"
            R"("isReadOnly":false,"isEncrypted":false})");
}

TEST(VolumeEntry, FallsBackWhereTheFactsAreMissing) {
  platform::VolumeFacts bare;
  bare.mountPoint = "/mnt/data";
  Json entry = volumeEntry(bare);
  EXPECT_EQ(entry["name"], "data");
  EXPECT_EQ(entry["fileSystem"], "unknown");
  EXPECT_EQ(entry["format"], "");
  EXPECT_EQ(entry["totalBytes"], 0);
  EXPECT_EQ(entry["freeBytes"], 0);
  EXPECT_EQ(entry["usedBytes"], 0);
  EXPECT_EQ(entry["device"], "");
  EXPECT_EQ(entry["isLocal"], true);

  bare.format = "network (NFS)";
  EXPECT_EQ(volumeEntry(bare)["fileSystem"], "network (NFS)");

  // More free than total (a quota, a file system that miscounts): nothing is used.
  bare.totalBytes = 100;
  bare.availableBytes = 150;
  EXPECT_EQ(volumeEntry(bare)["usedBytes"], 0);
  bare.totalBytes = UINT64_MAX;
  bare.availableBytes = 0;
  EXPECT_EQ(volumeEntry(bare)["totalBytes"], INT64_MAX);
}

TEST(FilesVolumes, AnUnreadableMountTableFails) {
  platform::MountedVolumes volumes({"/nonexistent/mountinfo", "/sys", "/dev"});
  try {
    filesVolumes(volumes);
    ADD_FAILURE() << "no failure";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.code(), ErrorCode::ExecutionFailed);
    EXPECT_EQ(error.message(), "macOS did not return the mounted volumes");
  }
}

TEST(FilesVolumes, ListsThisMachinesRoot) {
  Json result = filesVolumes(platform::MountedVolumes());
  ASSERT_TRUE(result["volumes"].is_array());
  bool sawRoot = false;
  for (const Json& volume : result["volumes"]) {
    ASSERT_EQ(volume.size(), 15u);
    if (volume["mountPoint"] != "/") continue;
    sawRoot = true;
    EXPECT_EQ(volume["isRoot"], true);
    EXPECT_GT(volume["totalBytes"].get<int64_t>(), 0);
    EXPECT_EQ(volume["usedBytes"].get<int64_t>(),
              std::max<int64_t>(0, volume["totalBytes"].get<int64_t>() - volume["freeBytes"].get<int64_t>()));
  }
  EXPECT_TRUE(sawRoot);
}

}  // namespace
}  // namespace wren

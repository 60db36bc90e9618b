#include "platform/FileIcons.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "support/TemporaryFolder.h"

namespace wren::platform {
namespace {

using testing::TemporaryFolder;

// Both steps at once, on the test's thread, which is the only one using GLib's types here.
std::optional<FileIcon> fileIcon(const std::string& path) {
  std::optional<FileFacts> facts = examineFile(path);
  if (!facts) return std::nullopt;
  return iconOf(*facts);
}

class FileIconTest : public ::testing::Test {
 protected:
  std::string path(const std::string& relative) const { return (folder_.path() / relative).string(); }
  TemporaryFolder folder_{"wren-icons"};
};

TEST_F(FileIconTest, ContentTypesByNameThenByContents) {
  folder_.write("notes.txt", "plain words\n");
  folder_.write("scan", "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<<>>\nendobj\n");
  folder_.write("photo.png", "\x89PNG\r\n\x1a\n");
  folder_.write("empty-file", "");
  std::filesystem::create_directories(path("Projects"));
  folder_.write("line\nbreak.txt", "text");
  folder_.write("caf\xe9.txt", "text");  // a Latin-1 name, not UTF-8
  std::filesystem::create_symlink(path("Projects"), path("link-to-folder"));
  std::filesystem::create_symlink(path("notes.txt"), path("link-to-notes"));
  const struct {
    const char* file;
    const char* contentType;
    const char* firstName;
  } cases[] = {
      {"notes.txt", "text/plain", "text-plain"},
      {"scan", "application/pdf", "application-pdf"},
      {"photo.png", "image/png", "image-png"},
      {"empty-file", "application/x-zerosize", "application-x-zerosize"},
      {"Projects", "inode/directory", "folder"},
      {"line\nbreak.txt", "text/plain", "text-plain"},
      {"caf\xe9.txt", "text/plain", "text-plain"},
      {"link-to-folder", "inode/directory", "folder"},
      {"link-to-notes", "text/plain", "text-plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::optional<FileIcon> icon = fileIcon(path(c.file));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->contentType, c.contentType);
    ASSERT_FALSE(icon->names.empty());
    EXPECT_EQ(icon->names.front(), c.firstName);
    EXPECT_EQ(icon->names.back(), "application-x-generic");
  }
}

TEST_F(FileIconTest, NothingForPathsThatNameNothing) {
  std::filesystem::create_symlink(path("gone"), path("broken-link"));
  const std::string cases[] = {
      "",
      path("missing.txt"),
      path("broken-link"),
      path("notes.txt") + std::string("\0.pdf", 5),
      "/" + std::string(5000, 'a'),
  };
  for (const std::string& file : cases) {
    SCOPED_TRACE(file.substr(0, 80));
    EXPECT_FALSE(fileIcon(file));
  }
}

TEST_F(FileIconTest, SpecialFilesAreKnownByTheirTypeAndNeverOpened) {
  // Opening this FIFO for reading would wait for a writer that never comes.
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  std::optional<FileIcon> fifo = fileIcon(path("pipe"));
  ASSERT_TRUE(fifo);
  EXPECT_EQ(fifo->contentType, "inode/fifo");

  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = path("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::optional<FileIcon> socketIcon = fileIcon(socketPath);
  close(listener);
  ASSERT_TRUE(socketIcon);
  EXPECT_EQ(socketIcon->contentType, "inode/socket");

  std::optional<FileIcon> device = fileIcon("/dev/null");
  ASSERT_TRUE(device);
  EXPECT_EQ(device->contentType, "inode/chardevice");
}

TEST(Base64, StandardAlphabetWithoutLineBreaks) {
  EXPECT_EQ(base64(""), "");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64(std::string("\xfb\xff\x00", 3)), "+/8A");
  std::string long_(3000, 'x');
  EXPECT_EQ(base64(long_).find('\n'), std::string::npos);
  EXPECT_EQ(base64(long_).size(), 4000u);
}

}  // namespace
}  // namespace wren::platform

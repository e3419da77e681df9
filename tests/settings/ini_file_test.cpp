#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "support/peer.h"
#include "support/text_file.h"

namespace {

using testsupport::TTempDir;
using testsupport::WriteFileBytes;

size_t EntriesIn(const std::filesystem::path& folder) {
  size_t count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(IniFile, KeepsCommentsOtherSectionsAndUnknownKeysAcrossWrites) {
  TTempDir dir;
  std::string path = dir / "a.ini";
  WriteFileBytes(path,
                 "; made by hand\n"
                 "[Other]\n"
                 "Delay=99\n"
                 "\n"
                 "[zerbalin]\n"
                 "# a note\n"
                 "Unknown = kept \n"
                 "garbage line without equals\n"
                 "DELAY=3\n"
                 "Delay=4\n"
                 "\n"
                 "[Last]\n"
                 "x=1\n");
  TIniFile file(path);
  EXPECT_EQ(file.Get("ZERBALIN", "delay"), "3"); // first occurrence, any case
  EXPECT_EQ(file.Get("Zerbalin", "unknown"), "kept");
  EXPECT_EQ(file.Get("Zerbalin", "garbage line without equals"), std::nullopt);
  EXPECT_EQ(file.Keys("Zerbalin"), (std::vector<std::string>{"Unknown", "DELAY"}));

  EXPECT_TRUE(file.Set("Zerbalin", "Delay", "6"));
  EXPECT_TRUE(file.Set("Zerbalin", "New", "two\nlines"));
  EXPECT_TRUE(file.Set("Fresh", "k", "v"));
  EXPECT_FALSE(file.Set("Zerbalin", "a=b", "v"));
  EXPECT_TRUE(file.Save());
  EXPECT_EQ(ReadText(path),
            "; made by hand\n"
            "[Other]\n"
            "Delay=99\n"
            "\n"
            "[zerbalin]\n"
            "# a note\n"
            "Unknown = kept \n"
            "garbage line without equals\n"
            "Delay=6\n"
            "Delay=4\n"
            "New=two\n"
            "\n"
            "[Last]\n"
            "x=1\n"
            "\n"
            "[Fresh]\n"
            "k=v\n");

  // Removing a key takes every copy, so an older duplicate cannot reappear.
  EXPECT_TRUE(IniWriteString(path, "zerbalin", "delay", nullptr));
  EXPECT_EQ(IniReadString(path, "Zerbalin", "Delay", "none"), "none");
  EXPECT_EQ(IniReadString(path, "Other", "Delay", "none"), "99");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "no temporary file is left behind";
}

TEST(IniFile, KeepsWindowsLineEndings) {
  TTempDir dir;
  std::string path = dir / "crlf.ini";
  WriteFileBytes(path, "[S]\r\na=1\r\n");
  EXPECT_EQ(IniReadString(path, "S", "a", ""), "1");
  EXPECT_TRUE(IniWriteString(path, "S", "b", "2"));
  EXPECT_EQ(ReadText(path), "[S]\r\na=1\r\nb=2\r\n");
}

TEST(IniFile, MissingFileAndFolderAreCreatedOnWrite) {
  TTempDir dir;
  std::string path = dir / "new/deeper/settings.ini";
  EXPECT_TRUE(TIniFile(path).Keys("S").empty());
  TIniFile file(path);
  file.AddSection("S");
  EXPECT_TRUE(file.Save());
  EXPECT_EQ(ReadText(path), "[S]\n");
}

TEST(IniFile, UnwritablePlacesLeaveTheFileAsItWas) {
  TTempDir dir;
  std::string path = dir / "ro.ini";
  WriteFileBytes(path, "[S]\na=1\n");
  chmod(path.c_str(), 0444);
  EXPECT_FALSE(IniWriteString(path, "S", "a", "2"));
  EXPECT_EQ(ReadText(path), "[S]\na=1\n");

  std::filesystem::create_directory(dir.Path() / "locked");
  std::string inLocked = dir / "locked/s.ini";
  chmod((dir / "locked").c_str(), 0555);
  EXPECT_FALSE(IniWriteString(inLocked, "S", "a", "2"));
  EXPECT_FALSE(std::filesystem::exists(inLocked));
  chmod((dir / "locked").c_str(), 0755);

  // Something other than a file in its place is neither read nor replaced.
  std::string fifo = dir / "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(IniReadString(fifo, "S", "a", "none"), "none");
  EXPECT_FALSE(IniWriteString(fifo, "S", "a", "2"));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  // A file too large to read is not rewritten from the part that was read.
  std::string huge = dir / "huge.ini";
  WriteFileBytes(huge, "[S]\n" + std::string(kMaxIniFileBytes, ';') + "\n");
  EXPECT_FALSE(IniWriteString(huge, "S", "a", "2"));
  EXPECT_EQ(std::filesystem::file_size(huge), kMaxIniFileBytes + 5);
}

TEST(IniFile, WritesThroughASymbolicLink) {
  TTempDir dir;
  std::string real = dir / "real.ini";
  std::string link = dir / "link.ini";
  WriteFileBytes(real, "[S]\n");
  std::filesystem::create_symlink(real, link);
  EXPECT_TRUE(IniWriteString(link, "S", "a", "1"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadText(real), "[S]\na=1\n");
}

// A rewritten file keeps its own mode, and a new one gets what the umask
// allows, unless the file is the owner's alone: then it is 0600 either way.
TEST(IniFile, AccessDecidesTheModeOfNewAndRewrittenFiles) {
  const mode_t previousMask = umask(022);
  const struct {
    TIniAccess access;
    std::optional<mode_t> before; // none: the file is new
    mode_t after;
  } cases[] = {{TIniAccess::Shared, std::nullopt, 0644},  {TIniAccess::Shared, 0640, 0640},
               {TIniAccess::OwnerOnly, std::nullopt, 0600}, {TIniAccess::OwnerOnly, 0644, 0600},
               {TIniAccess::OwnerOnly, 0666, 0600}};
  for (const auto& test : cases) {
    TTempDir dir;
    const std::string path = dir / "a.ini";
    if (test.before) {
      WriteFileBytes(path, "[S]\nkept=1\n");
      chmod(path.c_str(), *test.before);
    }
    EXPECT_TRUE(IniWriteString(path, "S", "a", "2", test.access));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, test.after) << "from " << (test.before ? *test.before : 0);
    EXPECT_EQ(ReadText(path), test.before ? "[S]\nkept=1\na=2\n" : "[S]\na=2\n");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "no temporary file is left";
  }
  umask(previousMask);
}

TEST(IniFile, BinaryBytesAndLongValuesReadBack) {
  TTempDir dir;
  std::string path = dir / "bin.ini";
  std::string value(100 * 1024, 'v');
  std::string binary("\x01\xff\x00\x7f", 4);
  WriteFileBytes(path, "[S]\nlong=" + value + "\nbin=" + binary + "\n\xfe\xfe\n[\n");
  EXPECT_EQ(IniReadString(path, "S", "long", ""), value);
  EXPECT_EQ(IniReadString(path, "S", "bin", ""), binary);
}

} // namespace

// ZIP archives read through the package: archives made by Info-ZIP zip and
// Python's zipfile, and the archives of libarchive's test suite, listed and
// read like unzip lists and reads them.
#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log_sink.h"
#include "filepkg/pkg_test_support.h"
#include "support/peer.h"

using namespace pkgtest;
using testsupport::RunOutput;

namespace {

// unzip and zipinfo give names flagged as UTF-8 as they are only in a
// UTF-8 locale.
const std::string kUtf8 = "LC_ALL=C.UTF-8 ";

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The bytes of a package name, or "(none)" when it does not open.
std::string ReadName(const std::string& name) {
  TPkgStream* stream = PkgOpen(name.c_str(), "rb");
  if (!stream) return "(none)";
  std::string bytes = Text(ReadAll(stream));
  PkgClose(stream, kPkgKeep);
  return bytes;
}

// Writes bytes to a package name; the close result, or -2 when the name
// does not open.
int WriteName(const std::string& name, const std::string& bytes, int closeMode = kPkgKeep, int32_t time = 0) {
  TPkgStream* stream = PkgOpen(name.c_str(), "wb");
  if (!stream) return -2;
  bool written = PkgWrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  if (time) PkgSetTime(stream, time);
  int closed = PkgClose(stream, closeMode);
  return written ? closed : -1;
}

// unzip's test of every member: 0 when all are sound.
int UnzipTest(const std::string& archive, const std::string& password = "") {
  std::string options = password.empty() ? "" : "-P '" + password + "' ";
  return testsupport::Run(kUtf8 + "unzip -tq " + options + "'" + archive + "' >/dev/null 2>&1");
}

// The members of an archive after "archive/", as our listing gives them.
std::vector<std::string> Members(const std::string& archive) {
  std::vector<std::string> names;
  for (const std::string& entry : ListNames(archive)) names.push_back(entry.substr(archive.size() + 1));
  return names;
}

// The file members unzip sees, in archive order: folders (marked 'd' by
// zipinfo, whether or not their names end in '/') are left out.
std::vector<std::string> UnzipMembers(const std::string& archive) {
  auto lines = [](const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      result.push_back(text.substr(start, end - start));
    return result;
  };
  std::vector<std::string> names = lines(RunOutput(kUtf8 + "zipinfo -1 '" + archive + "' 2>/dev/null"));
  // The short listing has a line per member between two lines of heading
  // and one of totals.
  std::vector<std::string> details = lines(RunOutput(kUtf8 + "zipinfo -s '" + archive + "' 2>/dev/null"));
  std::vector<std::string> files;
  for (size_t i = 0; i < names.size(); ++i) {
    bool folder = names[i].back() == '/' || (i + 2 < details.size() && details[i + 2][0] == 'd');
    if (!folder) files.push_back(names[i]);
  }
  return files;
}

std::string UnzipBytes(const std::string& archive, const std::string& member, const std::string& password = "") {
  std::string options = password.empty() ? "" : "-P '" + password + "' ";
  return RunOutput(kUtf8 + "unzip -p " + options + "'" + archive + "' '" + member + "' 2>/dev/null");
}

class PkgZip : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern;
    for (int i = 0; i < 40000; ++i) pattern += std::to_string(i * 7919 % 10007) + (i % 13 ? " " : "\n");
    WriteFile(m_dir / "text.txt", pattern);
    WriteFile(m_dir / "noise.bin", Pattern(300000));
    mkdir((m_dir / "sub").c_str(), 0777);
    WriteFile(m_dir / "sub/Photo.GIF", "GIF89a in a folder");
  }
  ~PkgZip() override { PkgSetPtr("ZipPassword", ""); }

  // Makes an archive with a shell command run in the test folder.
  void Make(const std::string& command) { ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "' && " + command), 0) << command; }

  // Every member reads as unzip gives it, and the listing is unzip's.
  void ExpectLikeUnzip(const std::string& archive, const std::string& password = "") {
    SCOPED_TRACE(archive);
    std::vector<std::string> expected = UnzipMembers(archive);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Members(archive), expected);
    for (const std::string& member : expected)
      EXPECT_EQ(ReadName(archive + "/" + member), UnzipBytes(archive, member, password)) << member;
  }

  TTempDir m_dir;
};

TEST_F(PkgZip, InfoZipArchivesReadLikeUnzip) {
  Make("zip -q deflated.zip text.txt noise.bin sub/Photo.GIF");
  Make("zip -q -0 stored.zip text.txt noise.bin");
  Make("zip -q -fz zip64.zip text.txt noise.bin");
  Make("zip -q -r tree.zip sub");
  Make("printf 'BEFORE' > case1.txt && cp case1.txt CASE1.TXT && printf 'after' > CASE1.TXT && "
       "zip -q case.zip case1.txt CASE1.TXT");
  for (const char* archive : {"deflated.zip", "stored.zip", "zip64.zip", "tree.zip", "case.zip"})
    ExpectLikeUnzip(m_dir / archive);
  EXPECT_EQ(ReadName(m_dir / "deflated.zip/SUB/photo.gif"), "GIF89a in a folder")
      << "member names match without regard to case";
  EXPECT_EQ(ReadName(m_dir / "deflated.zip/sub"), "(none)") << "a directory is no member";
  EXPECT_EQ(ReadName(m_dir / "deflated.zip/missing.txt"), "(none)");
}

TEST_F(PkgZip, ArchivesInsideArchivesAndBehindCode) {
  Make("zip -q inner.zip text.txt && zip -q -0 outer.zip inner.zip noise.bin");
  EXPECT_EQ(ReadName(m_dir / "outer.zip/inner.zip/text.txt"), Text(ReadFile(m_dir / "text.txt")));
  // A self-extracting archive: code in front, offsets left as zip wrote
  // them and also adjusted by zip -A.
  Make("head -c 70000 noise.bin > sfx.zip && cat inner.zip >> sfx.zip && cp sfx.zip sfxa.zip && "
       "zip -q -A sfxa.zip");
  for (const char* archive : {"sfx.zip", "sfxa.zip"})
    EXPECT_EQ(ReadName(m_dir / archive + "/text.txt"), Text(ReadFile(m_dir / "text.txt"))) << archive;
}

TEST_F(PkgZip, MembersWhoseSizesFollowTheirData) {
  // Written to a pipe, zipfile cannot go back to fill in the sizes: every
  // member has flag bit 3 and a data descriptor.
  Make("python3 -c \"import sys, zipfile\n"
       "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
       "    z.write('text.txt'); z.write('noise.bin'); z.writestr('empty.txt', '')\" > stream.zip");
  ExpectLikeUnzip(m_dir / "stream.zip");
}

TEST_F(PkgZip, EncryptedMembersNeedThePassword) {
  Make("zip -q -P 'open sesame' locked.zip text.txt && zip -q -0 -P 'open sesame' locked0.zip noise.bin");
  PkgSetPtr("ZipPassword", "open sesame");
  ExpectLikeUnzip(m_dir / "locked.zip", "open sesame");
  ExpectLikeUnzip(m_dir / "locked0.zip", "open sesame");
  PkgSetPtr("ZipPassword", "wrong");
  ClearLoggedMessages();
  EXPECT_EQ(ReadName(m_dir / "locked.zip/text.txt"), "") << "a wrong password gives an empty member";
  ASSERT_FALSE(LoggedMessages().empty());
  EXPECT_NE(LoggedMessages().back().find("text.txt"), std::string::npos);
}

TEST_F(PkgZip, NamesAreMatchedWholeAndShownAsUtf8) {
  Make("printf A > a && printf AB > ab && zip -q -0 names.zip ab a && "
       "printf X > 'xQy.txt' && zip -q -0 dos.zip 'xQy.txt'");
  EXPECT_EQ(ReadName(m_dir / "names.zip/a"), "A");
  EXPECT_EQ(ReadName(m_dir / "names.zip/ab"), "AB");
  // An MS-DOS name: byte 81 hex is u with diaeresis in code page 437.
  std::vector<uint8_t> bytes = ReadFile(m_dir / "dos.zip");
  std::replace(bytes.begin(), bytes.end(), static_cast<uint8_t>('Q'), static_cast<uint8_t>(0x81));
  WriteFile(m_dir / "dos.zip", bytes);
  EXPECT_EQ(Members(m_dir / "dos.zip"), std::vector<std::string>{"x\xC3\xBCy.txt"});
  EXPECT_EQ(ReadName(m_dir / "dos.zip/x\xC3\xBCy.txt"), "X");
}

TEST_F(PkgZip, BrokenArchivesEndWithoutHarm) {
  Make("zip -q deflated.zip text.txt noise.bin");
  std::vector<uint8_t> whole = ReadFile(m_dir / "deflated.zip");
  // Cut short: without its directory the local headers are walked, and
  // the members that are whole still read.
  for (size_t length : {whole.size() - 10, whole.size() / 2, size_t{100}, size_t{10}}) {
    WriteFile(m_dir / "cut.zip", std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    std::string text = ReadName(m_dir / "cut.zip/text.txt");
    EXPECT_TRUE(text == "(none)" || Text(ReadFile(m_dir / "text.txt")).compare(0, text.size(), text) == 0)
        << length;
    ReadName(m_dir / "cut.zip/noise.bin");
  }
  // Every byte of the directory and the end record changed in turn.
  size_t directory = whole.size() - 200;
  for (size_t at = directory; at < whole.size(); ++at) {
    std::vector<uint8_t> bad = whole;
    bad[at] ^= 0xFF;
    WriteFile(m_dir / "bad.zip", bad);
    Members(m_dir / "bad.zip");
    ReadName(m_dir / "bad.zip/noise.bin");
  }
}

TEST_F(PkgZip, WrittenMembersMakeArchivesThatUnzipReads) {
  const std::string archive = m_dir / "new.zip";
  const std::string text = Text(ReadFile(m_dir / "text.txt"));
  // 2 March 2021, 10:20:30 local time.
  std::tm local{};
  local.tm_year = 121;
  local.tm_mon = 2;
  local.tm_mday = 2;
  local.tm_hour = 10;
  local.tm_min = 20;
  local.tm_sec = 30;
  local.tm_isdst = -1;
  ASSERT_EQ(WriteName(archive + "/a.txt", text, kPkgKeep, static_cast<int32_t>(std::mktime(&local))), 0);
  ASSERT_EQ(WriteName(archive + "/dir/\xC3\xA9t\xC3\xA9.bin", "summer"), 0);
  EXPECT_EQ(UnzipTest(archive), 0);
  EXPECT_EQ(UnzipMembers(archive), (std::vector<std::string>{"a.txt", "dir/\xC3\xA9t\xC3\xA9.bin"}));
  EXPECT_EQ(UnzipBytes(archive, "a.txt"), text);
  EXPECT_NE(RunOutput("zipinfo -T '" + archive + "' a.txt").find("20210302.102030"), std::string::npos)
      << "the member keeps the time it was given";
  // Replacing a member keeps the other one as it was.
  const std::string before = UnzipBytes(archive, "dir/\xC3\xA9t\xC3\xA9.bin");
  ASSERT_EQ(WriteName(archive + "/A.TXT", "replaced"), 0);
  EXPECT_EQ(UnzipTest(archive), 0);
  EXPECT_EQ(UnzipBytes(archive, "a.txt"), "replaced");
  EXPECT_EQ(UnzipBytes(archive, "dir/\xC3\xA9t\xC3\xA9.bin"), before);
  // Deleting the members one by one leaves an empty file.
  EXPECT_EQ(PkgDelete((archive + "/a.txt").c_str()), 0);
  EXPECT_EQ(UnzipMembers(archive), std::vector<std::string>{"dir/\xC3\xA9t\xC3\xA9.bin"});
  EXPECT_EQ(PkgDelete((archive + "/dir/\xC3\xA9t\xC3\xA9.bin").c_str()), 0);
  EXPECT_TRUE(IsFile(archive));
  EXPECT_TRUE(ReadFile(archive).empty());
}

TEST_F(PkgZip, ChangingOtherToolsArchivesKeepsTheirMembers) {
  Make("zip -q -r info.zip text.txt noise.bin sub && printf stored > stored.txt && zip -q -0 info.zip stored.txt && "
       "python3 -c \"import sys, zipfile\n"
       "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
       "    z.write('text.txt'); z.write('noise.bin')\" > stream.zip");
  for (const char* name : {"info.zip", "stream.zip"}) {
    const std::string archive = m_dir / name;
    SCOPED_TRACE(archive);
    std::vector<std::string> members = UnzipMembers(archive);
    std::vector<std::string> contents;
    for (const std::string& member : members) contents.push_back(UnzipBytes(archive, member));
    ASSERT_EQ(WriteName(archive + "/added.txt", "added"), 0);
    EXPECT_EQ(UnzipTest(archive), 0);
    for (size_t i = 0; i < members.size(); ++i) EXPECT_EQ(UnzipBytes(archive, members[i]), contents[i]);
    EXPECT_EQ(UnzipBytes(archive, "added.txt"), "added");
  }
}

TEST_F(PkgZip, EncryptedAndNestedWrites) {
  PkgSetPtr("ZipPassword", "open sesame");
  ASSERT_EQ(WriteName(m_dir / "locked.zip/secret.txt", "hidden words"), 0);
  EXPECT_EQ(UnzipTest(m_dir / "locked.zip", "open sesame"), 0);
  EXPECT_EQ(UnzipBytes(m_dir / "locked.zip", "secret.txt", "open sesame"), "hidden words");
  EXPECT_EQ(ReadName(m_dir / "locked.zip/secret.txt"), "hidden words");
  PkgSetPtr("ZipPassword", "");

  Make("zip -q inner.zip text.txt && zip -q outer.zip inner.zip noise.bin");
  ASSERT_EQ(WriteName(m_dir / "outer.zip/inner.zip/deep.txt", "deep"), 0);
  ASSERT_EQ(WriteName(m_dir / "outer.zip/fresh.zip/new.txt", "new"), 0);
  EXPECT_EQ(UnzipTest(m_dir / "outer.zip"), 0);
  EXPECT_EQ(ReadName(m_dir / "outer.zip/inner.zip/deep.txt"), "deep");
  EXPECT_EQ(ReadName(m_dir / "outer.zip/inner.zip/text.txt"), Text(ReadFile(m_dir / "text.txt")));
  EXPECT_EQ(ReadName(m_dir / "outer.zip/fresh.zip/new.txt"), "new");
  EXPECT_EQ(ReadName(m_dir / "outer.zip/noise.bin"), Text(ReadFile(m_dir / "noise.bin")));
}

TEST_F(PkgZip, AWriteThatIsGivenUpOrFailsLeavesTheArchive) {
  Make("zip -q keep.zip text.txt noise.bin");
  const std::vector<uint8_t> before = ReadFile(m_dir / "keep.zip");
  EXPECT_EQ(WriteName(m_dir / "keep.zip/text.txt", "abandoned", kPkgAbandon), 0);
  EXPECT_EQ(ReadFile(m_dir / "keep.zip"), before);
  // The new archive cannot grow as large as the old one.
  int status = testsupport::RunWithFileSizeLimit(before.size() / 2, [&] {
    return WriteName(m_dir / "keep.zip/more.txt", "more") != 0 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "a failed rebuild was reported as success";
  EXPECT_EQ(ReadFile(m_dir / "keep.zip"), before);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) files += entry.path().filename() != "";
  EXPECT_EQ(files, 4u) << "text.txt, noise.bin, sub and keep.zip; no file of the rebuild is left";
}

TEST_F(PkgZip, AZipBombEndsWhereTheScratchSpaceDoesNotGrowAndNeverFillsMemory) {
  // 300 MB of zeros deflate to about 300 KB.
  Make("head -c 300000000 /dev/zero | zip -q bomb.zip -");
  const std::string member = m_dir / "bomb.zip/-";
  // Scratch files may not grow past 50 MB here: the member ends there, and
  // the process's memory stays small whatever the member claims.
  int status = testsupport::RunWithFileSizeLimit(50 << 20, [&] {
    // The child starts with the peak of the test program before it (other
    // tests run in the same process when the program runs alone).
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    TPkgStream* stream = PkgOpen(member.c_str(), "rb");
    if (!stream) return 2;
    PkgSeek(stream, 0, SEEK_END);
    int64_t size = PkgTell(stream);
    PkgClose(stream, kPkgKeep);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return size < 300000000 && usage.ru_maxrss - before.ru_maxrss < 200 * 1024 ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(PkgZip, ArchivesOfManyMembersAreWrittenWithZip64Records) {
  Make("python3 -c \"import zipfile\n"
       "with zipfile.ZipFile('many.zip', 'w') as z:\n"
       "    [z.writestr('m%05d.txt' % i, str(i)) for i in range(70000)]\"");
  ASSERT_EQ(WriteName(m_dir / "many.zip/last.txt", "last"), 0);
  EXPECT_EQ(UnzipTest(m_dir / "many.zip"), 0);
  EXPECT_EQ(Members(m_dir / "many.zip").size(), 70001u);
  EXPECT_EQ(ReadName(m_dir / "many.zip/m69999.txt"), "69999");
  EXPECT_EQ(ReadName(m_dir / "many.zip/last.txt"), "last");
}

// libarchive's archives: every member that unzip reads, we read alike
// (names in code pages other than 437 are shown differently, so members are
// paired in archive order); methods this program does not read are reported
// in the log.
TEST_F(PkgZip, ArchivesOfOtherToolsReadLikeUnzip) {
  const std::string source = ZER_TEST_DATA "/peer/zip";
  PkgSetPtr("ZipPassword", "12345678");
  int compared = 0;
  int reported = 0;
  for (const auto& file : std::filesystem::directory_iterator(source)) {
    if (file.path().extension() != ".uu") continue;
    std::string archive = m_dir / file.path().stem().string();
    if (testsupport::Run("uudecode -o '" + archive + "' '" + file.path().string() + "' 2>/dev/null") != 0) continue;
    SCOPED_TRACE(archive);
    std::vector<std::string> theirs = UnzipMembers(archive);
    std::vector<std::string> ours = Members(archive);
    // Where unzip finds no members it gives nothing to compare with.
    if (theirs.empty()) continue;
    if (ours.size() != theirs.size()) {
      ADD_FAILURE() << ours.size() << " members listed, unzip lists " << theirs.size();
      continue;
    }
    for (size_t i = 0; i < ours.size(); ++i) {
      ClearLoggedMessages();
      std::string bytes = ReadName(archive + "/" + ours[i]);
      bool unread = bytes == "(none)" && !LoggedMessages().empty() &&
                    LoggedMessages().back().find("does not read") != std::string::npos;
      reported += unread;
      std::string check = "unzip -tq -P 12345678 '" + archive + "' '" + theirs[i] + "' >/dev/null 2>&1";
      if (unread || testsupport::Run(check) != 0) continue;
      EXPECT_EQ(bytes, UnzipBytes(archive, theirs[i], "12345678")) << theirs[i];
      ++compared;
    }
  }
  EXPECT_GT(compared, 30);
  EXPECT_GT(reported, 5);
}

} // namespace

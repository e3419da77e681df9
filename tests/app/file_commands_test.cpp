// Copy, move and delete on real files in a scratch folder, with the
// questions and the prompt answered by the fake host, and the log read back.
#include "app/file_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "filepkg/pkg_test_support.h"
#include "support/log_capture.h"
#include "support/peer.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

time_t ModificationTime(const std::string& path) {
  struct stat status {};
  stat(path.c_str(), &status);
  return status.st_mtime;
}

bool OnDisk(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

class FileCommands : public testing::Test {
protected:
  void SetUp() override {
    WriteFileBytes(Path("a.gif"), "picture bytes");
    testsupport::Run("touch -d '2021-03-04 05:06:08' '" + Path("a.gif") + "'");
    m_settings.Set(IntKey::EnableConfirmDelete, 1);
  }

  std::string Path(const std::string& name) const { return m_dir / name; }

  std::vector<std::string> LogLines() const { return m_capture.Lines(); }

  testsupport::TTempDir m_dir;
  testsupport::TLogCapture m_capture;
  testsupport::FakeHost& m_host = m_capture.host;
  TProfile m_settings;
  int m_logShown = 0;
  TFileCommandContext m_context{m_host, m_settings, m_capture.log, [this] { ++m_logShown; }};
};

TEST(FileCommandProposal, FolderOfTheRememberedTargetElseOfTheCurrentFile) {
  struct TCase {
    const char* remembered;
    const char* expected;
  } cases[] = {
      {"", "/pics/a.gif"},
      {"b.gif", "/pics/a.gif"},
      {"/backup/b.gif", "/backup/a.gif"},
      {"/backup/", "/backup/a.gif"},
      {"D:\\old\\b.gif", "D:\\old\\a.gif"},
  };
  for (const TCase& c : cases) EXPECT_EQ(ProposeTarget(c.remembered, "/pics/a.gif"), c.expected) << c.remembered;
  EXPECT_EQ(ProposeTarget("", "/pics/x.zip/in/m.gif"), "/pics/x.zip/in/m.gif");
}

TEST_F(FileCommands, CopyIntoAFolderAddsTheFileNameAndKeepsTheTime) {
  ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
  m_host.promptAnswers.push_back(Path("out"));
  EXPECT_EQ(CopyOrMoveTo(m_context, TFileKind::Image, TTransfer::Copy, Path("a.gif")), TCopyResult::Copied);
  const std::string target = Path("out/a.gif");
  EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(Path("a.gif")));
  EXPECT_EQ(ModificationTime(target), ModificationTime(Path("a.gif")));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Copying " + Path("a.gif") + " to " + target,
                                                  "Copied " + Path("a.gif") + " to " + target}));
  EXPECT_EQ(m_settings.GetString(StrKey::CopyImageTo), target);
  EXPECT_TRUE(m_host.boxes.empty());
}

TEST_F(FileCommands, MoveRemembersItsOwnTargetAndTakesTheSourceAway) {
  m_host.promptAnswers.push_back(Path("b.wav"));
  WriteFileBytes(Path("a.wav"), "sound");
  EXPECT_EQ(CopyOrMoveTo(m_context, TFileKind::Sound, TTransfer::Move, Path("a.wav")), TCopyResult::Copied);
  EXPECT_FALSE(OnDisk(Path("a.wav")));
  EXPECT_EQ(ReadFileBytes(Path("b.wav")), Bytes("sound"));
  EXPECT_EQ(m_settings.GetString(StrKey::MoveSoundTo), Path("b.wav"));
  EXPECT_EQ(m_settings.GetString(StrKey::CopySoundTo), "");
}

TEST_F(FileCommands, NoFileOrACancelledPromptDoesNothing) {
  EXPECT_EQ(CopyOrMoveTo(m_context, TFileKind::Movie, TTransfer::Copy, "No File"), TCopyResult::Refused);
  EXPECT_EQ(CopyOrMoveTo(m_context, TFileKind::Movie, TTransfer::Copy, Path("a.gif")), TCopyResult::Refused);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(m_settings.GetString(StrKey::CopyMovieTo), "");
}

TEST_F(FileCommands, CopyOntoItselfTouchesNothing) {
  const time_t before = ModificationTime(Path("a.gif"));
  // The second name differs in case only and no such file exists, so it
  // reaches a.gif too.
  for (const std::string& target : {Path("a.gif"), Path("A.GIF")}) {
    EXPECT_EQ(CopyThroughPackage(m_context, Path("a.gif"), target, true, true), TCopyResult::Copied) << target;
    EXPECT_EQ(LogLines().back(), "Copied " + Path("a.gif") + " to " + target);
  }
  EXPECT_TRUE(m_host.boxes.empty());
  EXPECT_EQ(ModificationTime(Path("a.gif")), before);
  EXPECT_EQ(ReadFileBytes(Path("a.gif")), Bytes("picture bytes"));
}

TEST_F(FileCommands, ANameDifferingInCaseFromAnotherFileIsACopy) {
  WriteFileBytes(Path("A.GIF"), "other");
  m_host.boxAnswers.push_back(TBoxAnswer::Yes);
  EXPECT_EQ(CopyThroughPackage(m_context, Path("a.gif"), Path("A.GIF"), false, true), TCopyResult::Copied);
  EXPECT_EQ(ReadFileBytes(Path("A.GIF")), ReadFileBytes(Path("a.gif")));
  ASSERT_EQ(m_host.boxes.size(), 1u);
}

TEST_F(FileCommands, RefusedOverwriteKeepsTheTargetAndLogsNothing) {
  WriteFileBytes(Path("old.gif"), "old");
  EXPECT_EQ(CopyThroughPackage(m_context, Path("a.gif"), Path("old.gif"), true, true), TCopyResult::Refused);
  EXPECT_EQ(ReadFileBytes(Path("old.gif")), Bytes("old"));
  EXPECT_TRUE(OnDisk(Path("a.gif")));
  EXPECT_TRUE(LogLines().empty());
  ASSERT_EQ(m_host.boxes.size(), 1u);
  EXPECT_EQ(m_host.boxes[0].text, Path("old.gif") + "\nThis file already exists.\n\nReplace existing file?");
  EXPECT_EQ(m_host.boxes[0].caption, "File Exists");
  EXPECT_EQ(m_host.boxes[0].buttons, TBoxButtons::YesNo);

  // Without confirm the target is replaced without a question.
  EXPECT_EQ(CopyThroughPackage(m_context, Path("a.gif"), Path("old.gif"), false, false), TCopyResult::Copied);
  EXPECT_EQ(ReadFileBytes(Path("old.gif")), ReadFileBytes(Path("a.gif")));
  EXPECT_EQ(m_host.boxes.size(), 1u);
}

TEST_F(FileCommands, FailedCopiesLogTheErrorShowTheLogAndKeepEverything) {
  WriteFileBytes(Path("old.gif"), "old");
  ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
  struct TCase {
    std::string source;
    std::string target;
  } cases[] = {
      {Path("missing.gif"), Path("old.gif")},
      {Path("a.gif"), Path("out")}, // a folder cannot be written as a file
      {Path("out"), Path("old.gif")}, // nor read as one
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CopyThroughPackage(m_context, c.source, c.target, true, false), TCopyResult::Failed) << c.source;
    EXPECT_EQ(LogLines().back(), "Error occurred while copying " + c.source + " to " + c.target);
  }
  EXPECT_EQ(m_logShown, 3);
  EXPECT_EQ(ReadFileBytes(Path("old.gif")), Bytes("old"));
  EXPECT_TRUE(OnDisk(Path("a.gif")));
}

TEST_F(FileCommands, AWriteThatFailsHalfWayLeavesTheOldTargetAndTheSource) {
  WriteFileBytes(Path("big.gif"), std::vector<uint8_t>(200000, 7));
  WriteFileBytes(Path("old.gif"), "old");
  // The child can write at most 100000 bytes into any file.
  const int result = testsupport::RunWithFileSizeLimit(100000, [&] {
    const TCopyResult copy = CopyThroughPackage(m_context, Path("big.gif"), Path("old.gif"), true, false);
    const bool logged = LogLines().back() == "Error occurred while copying " + Path("big.gif") + " to " + Path("old.gif");
    return copy == TCopyResult::Failed && logged ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(Path("old.gif")), Bytes("old"));
  EXPECT_EQ(ReadFileBytes(Path("big.gif")).size(), 200000u);
  EXPECT_EQ(testsupport::RunOutput("ls -A '" + m_dir.Path().string() + "'"), "a.gif\nbig.gif\nold.gif\n")
      << "no scratch file is left behind";
}

TEST_F(FileCommands, UnreadableSourcesAndFoldersClosedToWritingFailCleanly) {
  pkgtest::TTempDir dir;
  WriteFileBytes(dir / "a.gif", "picture bytes");
  WriteFileBytes(dir / "secret.gif", "secret");
  chmod((dir / "secret.gif").c_str(), 0);
  ASSERT_EQ(mkdir((dir / "closed").c_str(), 0755), 0);
  WriteFileBytes(dir / "closed/old.gif", "old");
  chmod((dir / "closed").c_str(), 0555);
  const int status = pkgtest::RunWithoutRoot(dir, [&] {
    EXPECT_EQ(CopyThroughPackage(m_context, dir / "secret.gif", dir / "copy.gif", false, false), TCopyResult::Failed);
    EXPECT_EQ(LogLines().back(), "Error occurred while copying " + dir / "secret.gif" + " to " + dir / "copy.gif");
    EXPECT_FALSE(OnDisk(dir / "copy.gif"));
    EXPECT_EQ(CopyThroughPackage(m_context, dir / "a.gif", dir / "closed/old.gif", true, false), TCopyResult::Failed);
    EXPECT_EQ(ReadFileBytes(dir / "closed/old.gif"), Bytes("old"));
    EXPECT_TRUE(OnDisk(dir / "a.gif")) << "a failed move keeps its source";
    // A file in a folder closed to writing cannot be deleted either.
    m_settings.Set(IntKey::EnableConfirmDelete, 0);
    EXPECT_FALSE(DeleteCurrent(m_context, dir / "closed/old.gif"));
    EXPECT_EQ(LogLines().back(), "Error occurred while deleting " + dir / "closed/old.gif");
  });
  if (status == pkgtest::kNoPlainUser) GTEST_SKIP() << "no user that file permissions apply to";
  EXPECT_EQ(status, 0);
}

TEST_F(FileCommands, MembersOfArchivesMoveOutAndIn) {
  if (!testsupport::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path().string() + "' && printf 'member text' > m.txt && " +
                             "touch -d '2022-01-02 03:04:06' m.txt && zip -q x.zip m.txt a.gif && rm m.txt"),
            0);
  EXPECT_EQ(CopyThroughPackage(m_context, Path("x.zip/m.txt"), Path("m.txt"), true, true), TCopyResult::Copied);
  EXPECT_EQ(ReadFileBytes(Path("m.txt")), Bytes("member text"));
  EXPECT_EQ(testsupport::RunOutput("date -r '" + Path("m.txt") + "' '+%Y-%m-%d %H:%M:%S'"), "2022-01-02 03:04:06\n");
  EXPECT_EQ(testsupport::Run("unzip -l '" + Path("x.zip") + "' m.txt >/dev/null 2>&1"), 11)
      << "the member left the archive";

  WriteFileBytes(Path("b.gif"), "new member");
  EXPECT_EQ(CopyThroughPackage(m_context, Path("b.gif"), Path("x.zip/b.gif"), true, true), TCopyResult::Copied);
  EXPECT_EQ(testsupport::RunOutput("unzip -p '" + Path("x.zip") + "' b.gif"), "new member");
  EXPECT_FALSE(OnDisk(Path("b.gif")));
}

TEST_F(FileCommands, DeleteCurrentAsksWhenConfirmationIsOn) {
  m_host.boxAnswers = {TBoxAnswer::No, TBoxAnswer::Yes};
  EXPECT_FALSE(DeleteCurrent(m_context, Path("a.gif")));
  EXPECT_TRUE(OnDisk(Path("a.gif")));
  EXPECT_TRUE(DeleteCurrent(m_context, Path("a.gif")));
  EXPECT_FALSE(OnDisk(Path("a.gif")));
  ASSERT_EQ(m_host.boxes.size(), 2u);
  EXPECT_EQ(m_host.boxes[1].text, "Are you sure you want to delete " + Path("a.gif") + "?");
  EXPECT_EQ(m_host.boxes[1].caption, "Confirm");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Deleted " + Path("a.gif")});

  m_settings.Set(IntKey::EnableConfirmDelete, 0);
  EXPECT_FALSE(DeleteCurrent(m_context, Path("a.gif"))) << "already gone";
  EXPECT_EQ(LogLines().back(), "Error occurred while deleting " + Path("a.gif"));
  EXPECT_EQ(m_host.boxes.size(), 2u);
}

TEST_F(FileCommands, DeleteFilesAsksOnceAndSplitsNamesAtSemicolons) {
  for (const char* name : {"b.gif", "c.gif", "d.gif"}) WriteFileBytes(Path(name), "x");
  const std::vector<std::string> names = {Path("a.gif"), Path("b.gif") + ";" + Path("c.gif") + ";"};
  EXPECT_EQ(DeleteFiles(m_context, names), 0) << "refused";
  m_host.boxAnswers.push_back(TBoxAnswer::Yes);
  EXPECT_EQ(DeleteFiles(m_context, names), 3);
  EXPECT_EQ(m_host.boxes.size(), 2u);
  EXPECT_EQ(m_host.boxes[1].text, "Are you sure you want to delete these files?");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"Deleted " + Path("a.gif"), "Deleted " + Path("b.gif"),
                                                  "Deleted " + Path("c.gif")}));
  EXPECT_TRUE(OnDisk(Path("d.gif")));

  m_settings.Set(IntKey::EnableConfirmDelete, 0);
  EXPECT_EQ(DeleteFiles(m_context, {Path("d.gif")}), 1);
  EXPECT_EQ(m_host.boxes.size(), 2u);
}

} // namespace

// Unzip and Zip Info on archives made by Info-ZIP zip: the lines they log,
// and the files Unzip makes.
#include "app/zip_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/peer.h"

namespace {

using testsupport::TTempDir;

class ZipCommands : public testing::Test {
protected:
  void SetUp() override {
    // Members dated 5 July 2023, 14:07 local time; in old.zip the second is
    // compressed with bzip2, a method this program does not read.
    ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path().string() +
                               "' && mkdir in && printf 'first' > in/a.txt && printf '%02000d' 0 > in/b.txt && "
                               "touch -d '2023-07-05 14:07:10' in/a.txt in/b.txt && zip -q good.zip in/a.txt in/b.txt && "
                               "cp good.zip old.zip && zip -q -Z bzip2 old.zip in/b.txt && mkdir out && printf x > plain.txt"),
              0);
  }
  std::vector<std::string> m_lines;
  TLineSink m_sink = [this](const std::string& line) { m_lines.push_back(line); };
  TTempDir m_dir;
};

TEST_F(ZipCommands, ZipInfoListsLengthDateTimeAndName) {
  EXPECT_TRUE(ZipInfo(m_dir / "good.zip", m_sink));
  EXPECT_EQ(m_lines, (std::vector<std::string>{"Zip Info for " + m_dir / "good.zip", "",
                                                "Length  Date     Time  Name", "------- -------- ----- ------------",
                                                "      5 07-05-23 14:07 in/a.txt", "   2000 07-05-23 14:07 in/b.txt",
                                                ""}));
}

TEST_F(ZipCommands, UnzipCreatesEveryMemberByItsFileName) {
  EXPECT_TRUE(UnzipArchive(m_dir / "good.zip", m_dir / "out", m_sink));
  EXPECT_EQ(m_lines, (std::vector<std::string>{"Created " + m_dir / "out/a.txt", "Created " + m_dir / "out/b.txt", ""}));
  EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "out/b.txt"), std::vector<uint8_t>(2000, '0'));
  EXPECT_EQ(testsupport::RunOutput("date -r '" + m_dir / "out/a.txt" + "' '+%Y-%m-%d %H:%M'"), "2023-07-05 14:07\n")
      << "the file takes the member's time";
}

TEST_F(ZipCommands, MembersThatCannotBeReadAndFilesThatAreNoArchives) {
  const std::vector<std::string> oldPkzip = {
      "This file was produced by an old version of pkzip and can not",
      "be read by Zerbalin.  Please press F1 and choose ZIP Utilities",
      "for information about utilities to read this file.", ""};
  EXPECT_FALSE(UnzipArchive(m_dir / "old.zip", m_dir / "out", m_sink));
  std::vector<std::string> expected = {"Created " + m_dir / "out/a.txt",
                                       "Did not create " + m_dir / "out/b.txt" + " - obsolete compression type.", ""};
  expected.insert(expected.end(), oldPkzip.begin(), oldPkzip.end());
  EXPECT_EQ(m_lines, expected);

  m_lines.clear();
  EXPECT_FALSE(ZipInfo(m_dir / "old.zip", m_sink));
  ASSERT_EQ(m_lines.size(), 11u);
  EXPECT_EQ(m_lines[5].substr(0, 8), "     -1 ") << "a member that cannot be opened has length -1";
  EXPECT_EQ(m_lines[5].substr(m_lines[5].size() - 8), "in/b.txt");
  EXPECT_EQ(std::vector<std::string>(m_lines.end() - 4, m_lines.end()), oldPkzip);

  for (const char* name : {"plain.txt", "missing.zip"}) {
    m_lines.clear();
    EXPECT_FALSE(ZipInfo(m_dir / name, m_sink));
    EXPECT_EQ(m_lines.back(), std::string(name) == "plain.txt" ? "" : "Unable to open " + m_dir / name);
  }
  m_lines.clear();
  EXPECT_FALSE(UnzipArchive(m_dir / "plain.txt", m_dir / "out", m_sink));
  EXPECT_EQ(m_lines, (std::vector<std::string>{"This file is not a zip file.", ""}));
}

} // namespace

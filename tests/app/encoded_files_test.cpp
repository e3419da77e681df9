// Decode and Encode: section files that sharutils' uudecode reads back, and
// mail and split files decoded beside themselves, with the lines logged.
#include "app/encoded_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/peer.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TTempDir;

class EncodedFiles : public testing::Test {
protected:
  void SetUp() override {
    std::vector<uint8_t> bytes(100000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 7919) >> 3);
    testsupport::WriteFileBytes(m_dir / "data.bin", bytes);
    testsupport::WriteFileBytes(m_dir / "small.bin", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 1000));
  }
  void Make(const std::string& command) {
    ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path().string() + "' && " + command), 0) << command;
  }
  std::vector<std::string> m_lines;
  TLineSink m_sink = [this](const std::string& line) { m_lines.push_back(line); };
  TTempDir m_dir;
};

TEST_F(EncodedFiles, OneSectionHoldsHeaderBeginDataAndEnd) {
  ASSERT_TRUE(EncodeFile(m_dir / "small.bin", 950, m_sink));
  EXPECT_EQ(m_lines, (std::vector<std::string>{"Encoding " + m_dir / "small.bin", "Created " + m_dir / "small.uue"}));
  std::vector<uint8_t> bytes = ReadFileBytes(m_dir / "small.uue");
  std::string text(bytes.begin(), bytes.end());
  const std::string header = "\r\nsection 1/1   file small.bin   [ Zerbalin 6.0 ]\r\n\r\n";
  ASSERT_EQ(text.substr(0, header.size()), header);
  ASSERT_EQ(text.substr(text.size() - header.size()), header);
  std::string body = text.substr(header.size(), text.size() - 2 * header.size());
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = body.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(body.substr(start, end - start));
  ASSERT_EQ(lines.size(), 26u) << "begin, 23 data lines, ` and end";
  EXPECT_EQ(lines[0], "begin 644 small.bin");
  for (int i = 1; i <= 22; ++i) EXPECT_EQ(lines[i].size(), 61u) << "full line " << i;
  EXPECT_EQ(lines[24], "`");
  EXPECT_EQ(lines[25], "end");
  Make("uudecode -o back.bin small.uue && cmp -s back.bin small.bin");
}

TEST_F(EncodedFiles, SectionsDecodeBackWholeByUudecodeAndByDecode) {
  ASSERT_TRUE(EncodeFile(m_dir / "data.bin", 100, m_sink));
  // 100000 bytes in lines of 45 and sections of 100 lines: 23 sections.
  EXPECT_EQ(m_lines.size(), 24u);
  EXPECT_EQ(m_lines[2], "Created " + m_dir / "data.uu2");
  EXPECT_EQ(m_lines.back(), "Created " + m_dir / "data.u23");
  // uudecode reads the sections once their header lines (and the blank
  // lines around them) are taken out.
  Make("cat data.uue data.uu[0-9] data.u[0-9][0-9] | tr -d '\\r' | grep -v -e '^section ' -e '^$' | uudecode -o peer.bin && "
       "cmp -s peer.bin data.bin");

  Make("mkdir out && mv data.uue data.uu[0-9] data.u[0-9][0-9] out/");
  m_lines.clear();
  TDecode decode(m_sink);
  EXPECT_TRUE(decode.DecodeFile(m_dir / "out/data.uue"));
  decode.Finish();
  EXPECT_EQ(ReadFileBytes(m_dir / "out/data.bin"), ReadFileBytes(m_dir / "data.bin"));
  EXPECT_EQ(m_lines[0], "Decoding " + ShortName(m_dir / "out/data.uue"));
  EXPECT_EQ(m_lines[1], "Created " + ShortName(m_dir / "out/data.bin"));
  EXPECT_EQ(m_lines.size(), 24u) << "every section is decoded, and nothing goes wrong";
}

TEST_F(EncodedFiles, DecodeWritesEveryFileOfAMailAndReportsShortOnes) {
  Make("(echo 'From: a friend'; uuencode small.bin first.bin; echo 'and:'; uuencode -m data.bin second.bin) > mail.txt && "
       "uuencode data.bin cut.bin | head -c 30000 > cut.uue");
  TDecode decode(m_sink);
  EXPECT_TRUE(decode.DecodeFile(m_dir / "mail.txt"));
  EXPECT_TRUE(decode.DecodeFile(m_dir / "cut.uue"));
  decode.Finish();
  EXPECT_EQ(ReadFileBytes(m_dir / "first.bin"), ReadFileBytes(m_dir / "small.bin"));
  EXPECT_EQ(ReadFileBytes(m_dir / "second.bin"), ReadFileBytes(m_dir / "data.bin"));
  EXPECT_EQ(m_lines, (std::vector<std::string>{"Decoding " + ShortName(m_dir / "mail.txt"),
                                                "Created " + ShortName(m_dir / "first.bin"),
                                                "Created " + ShortName(m_dir / "second.bin"),
                                                "Decoding " + ShortName(m_dir / "cut.uue"),
                                                "Created " + ShortName(m_dir / "cut.bin"),
                                                "Error decoding, wrote a short file"}));
}

// A file that cannot be written whole is given up and the log says so.
TEST_F(EncodedFiles, DecodeGivesUpAFileItCannotWrite) {
  Make("uuencode data.bin big.bin > big.uue");
  const int status = testsupport::RunWithFileSizeLimit(50000, [&] {
    TDecode decode(m_sink);
    decode.DecodeFile(m_dir / "big.uue");
    decode.Finish();
    const bool logged = !m_lines.empty() && m_lines.back() == "Error writing " + ShortName(m_dir / "big.bin");
    return logged && !std::filesystem::exists(m_dir / "big.bin") ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST(EncodedFileNames, LongNamesAreShortenedAtAFolder) {
  EXPECT_EQ(ShortName("/home/me/pic.gif"), "/home/me/pic.gif");
  const std::string longName = "/home/somebody/with/a/very/long/path/to/the/pictures/of/2023/holiday.uue";
  std::string shown = ShortName(longName);
  EXPECT_LE(shown.size(), 50u);
  EXPECT_EQ(shown, ".../long/path/to/the/pictures/of/2023/holiday.uue");
}

} // namespace

// Encoded text as a container: files uuencoded by sharutils, base64 in MIME
// mail, BinHex made by macutils, and text that went through mailers and web
// pages, listed and decoded byte for byte.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filepkg/encoded_text.h"
#include "filepkg/pkg_test_support.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

std::string ReadName(const std::string& name) {
  TPkgStream* stream = PkgOpen(name.c_str(), "rb");
  if (!stream) return "(none)";
  std::vector<uint8_t> bytes = ReadAll(stream);
  PkgClose(stream, kPkgKeep);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Members(const std::string& container) {
  std::vector<std::string> names;
  for (const std::string& entry : ListNames(container)) names.push_back(entry.substr(container.size() + 1));
  return names;
}

class PkgEncoded : public testing::Test {
protected:
  void SetUp() override {
    std::vector<uint8_t> noise = Pattern(100000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(noise[i] * 7 + i / 251);
    WriteFile(m_dir / "pic.gif", noise);
    WriteFile(m_dir / "note.txt", "a short note\n");
    m_picture = std::string(noise.begin(), noise.end());
  }
  void Make(const std::string& command) {
    ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "' && " + command), 0) << command;
  }
  TTempDir m_dir;
  std::string m_picture;
};

// The lines a reader keeping lines of up to maxLength characters gives for
// text.
std::vector<std::string> ReadLines(const std::string& text, size_t maxLength) {
  TPkgStream* stream = PkgTempStream(32768, 2);
  EXPECT_EQ(PkgWrite(text.data(), 1, text.size(), stream), text.size());
  PkgSeek(stream, 0, SEEK_SET);
  TLineReader reader(stream, maxLength, false);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  PkgClose(stream, kPkgKeep);
  return lines;
}

TEST(PkgLineReader, LinesEndAtLfCrOrNulAndLongOnesContinue) {
  // A line that runs across the reader's 64 KB blocks, one longer than the
  // reader keeps, empty lines, and references to undo.
  std::string across = std::string(65530, 'a') + "bcdefghij";
  std::string text = "one\r\ntwo\n\n\nthree";
  text += '\0';
  text += "&lt;four&gt; &amp;c &nbsp;\n" + across + "\n" + std::string(300, 'x') + "\nlast";
  std::vector<std::string> expected = {"one", "two", "three", "<four> &c &nbsp;"};
  for (size_t at = 0; at < across.size(); at += 249) expected.push_back(across.substr(at, 249));
  expected.insert(expected.end(), {std::string(249, 'x'), std::string(51, 'x'), "last"});
  EXPECT_EQ(ReadLines(text, 249), expected);
}

TEST(PkgLineReader, ReferencesAndEndsAnywhereInALine) {
  // Lines are looked at many characters at a time: a reference or an end
  // at every place in a long line, and an '&' that begins no reference.
  for (size_t at = 0; at < 40; ++at) {
    SCOPED_TRACE(at);
    const std::string before(at, '&');
    EXPECT_EQ(ReadLines(before + "&gt;" + std::string(30, 'M') + "\n", 249),
              std::vector<std::string>{before + ">" + std::string(30, 'M')});
    EXPECT_EQ(ReadLines("x" + before + "\r&a" + before, 249), (std::vector<std::string>{"x" + before, "&a" + before}));
  }
  EXPECT_EQ(ReadLines(std::string(20, 'M') + "&l\n&", 21), (std::vector<std::string>{std::string(20, 'M') + "&", "l", "&"}))
      << "a reference cut by the longest line is no reference";
}

TEST(PkgLineReader, AStopRequestEndsTheText) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  TPkgStream* stream = PkgTempStream(32768, 2);
  ASSERT_EQ(PkgWrite(text.data(), 1, text.size(), stream), text.size());
  PkgSeek(stream, 0, SEEK_SET);
  int stop = 0;
  PkgSetPtr("AbortData", &stop);
  PkgSetPtr("AbortProc", reinterpret_cast<const void*>(+[](const void* data) { return *static_cast<const int*>(data); }));
  TLineReader reader(stream, 249, true);
  std::string_view line;
  EXPECT_TRUE(reader.Next(line));
  stop = 1;
  std::string last;
  while (reader.Next(line)) last = line;
  EXPECT_TRUE(reader.Stopped());
  EXPECT_NE(last, "line 19999") << "the text ends before its end";
  PkgSetPtr("AbortProc", nullptr);
  PkgSetPtr("AbortData", nullptr);
  PkgClose(stream, kPkgKeep);
}

// The bytes a new decoder of kind gives for one line.
std::vector<uint8_t> DecodeLine(TEncoding kind, const std::string& line) {
  std::vector<uint8_t> decoded;
  auto collect = [](void* context, const uint8_t* bytes, size_t count) {
    static_cast<std::vector<uint8_t>*>(context)->insert(static_cast<std::vector<uint8_t>*>(context)->end(), bytes,
                                                        bytes + count);
  };
  MakeDecoder(kind, collect, &decoded)->Feed(line);
  return decoded;
}

TEST(PkgDecoders, LinesOfEveryLengthAndBadCharacters) {
  const std::vector<uint8_t> bytes = Pattern(kUuLineBytes);
  for (size_t count = 1; count <= kUuLineBytes; ++count) {
    SCOPED_TRACE(count);
    const std::string line = UuencodeLine(bytes.data(), count);
    EXPECT_EQ(DecodeLine(TEncoding::Uuencode, line), std::vector<uint8_t>(bytes.begin(), bytes.begin() + count));
    // A character outside ' ' to '`' anywhere makes the line no data line.
    for (size_t at = 1; at + 2 < line.size(); ++at) {
      for (char bad : {'a', '~', '\x1f', '\x80', '\xe0'}) {
        // A control character last is cut off with the line's end.
        if (bad == '\x1f' && at + 3 == line.size()) continue;
        std::string broken = line;
        broken[at] = bad;
        EXPECT_TRUE(DecodeLine(TEncoding::Uuencode, broken).empty()) << at << " " << int(bad);
      }
    }
  }
  // Base64 lines of every length from the whole alphabet: each character
  // decodes to its place in the alphabet.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t groups = 1; groups <= 19; ++groups) {
    SCOPED_TRACE(groups);
    std::string line;
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < groups; ++i) {
      uint32_t group = 0;
      for (size_t j = 0; j < 4; ++j) {
        const size_t value = (i * 4 + j) * 7 % 64;
        line += alphabet[value];
        group = group << 6 | static_cast<uint32_t>(value);
      }
      expected.insert(expected.end(), {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)});
    }
    EXPECT_EQ(DecodeLine(TEncoding::Base64, line), expected);
    for (size_t at = 0; at < line.size(); ++at) {
      for (char bad : {'-', '.', '@', '[', '`', '{', '\x80', '\xc1'}) {
        std::string broken = line;
        broken[at] = bad;
        EXPECT_TRUE(DecodeLine(TEncoding::Base64, broken).empty()) << at << " " << int(bad);
      }
    }
  }
  EXPECT_EQ(DecodeLine(TEncoding::Base64, "TWFuTWE="), (std::vector<uint8_t>{'M', 'a', 'n', 'M', 'a'}));
  EXPECT_EQ(DecodeLine(TEncoding::Base64, "TQ=="), std::vector<uint8_t>{'M'});
}

TEST_F(PkgEncoded, PeerEncodingsDecodeByteForByte) {
  Make("uuencode pic.gif dir/pic.gif > uu.txt && uuencode -m pic.gif pic.gif > b64.txt && "
       "binhex -d pic.gif > pic.hqx && "
       "python3 -c \"import email.message, sys\n"
       "m = email.message.EmailMessage(); m['Subject'] = 'pictures'; m.set_content('see attached')\n"
       "m.add_attachment(open('pic.gif', 'rb').read(), maintype='image', subtype='gif', filename='holiday.gif')\n"
       "m.add_attachment(open('note.txt', 'rb').read(), maintype='image', subtype='jpeg')\n"
       "sys.stdout.write(m.as_string())\" > mail.eml");
  struct {
    const char* file;
    std::vector<std::string> members;
  } cases[] = {
      {"uu.txt", {"pic.gif"}},    // the folders of a "begin" name are left out
      {"b64.txt", {"pic.gif"}},   // sharutils' "begin-base64"
      {"pic.hqx", {"pic.gif"}},   // the name in the BinHex header
      {"mail.eml", {"holiday.gif", "file0002.jpg"}}, // a part without a name is named by number and type
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string container = m_dir / c.file;
    ASSERT_EQ(Members(container), c.members);
    EXPECT_EQ(ReadName(container + "/" + c.members[0]), m_picture);
  }
  EXPECT_EQ(ReadName(m_dir / "mail.eml/FILE0002.JPG"), "a short note\n");
  EXPECT_EQ(ReadName(m_dir / "mail.eml/missing.gif"), "(none)");
}

TEST_F(PkgEncoded, TextThatWentThroughMailersAndWebPages) {
  // Trailing spaces stripped by a mailer; the text pasted into a web page
  // with its '<', '>' and '&' written as references; two files in one mail
  // with text between them.
  Make("uuencode pic.gif pic.gif | sed 's/ *$//' > stripped.txt && "
       "uuencode pic.gif pic.gif | sed 's/&/\\&amp;/g; s/</\\&lt;/g; s/>/\\&gt;/g' > page.htm && "
       "(echo 'From: someone'; echo; uuencode note.txt first.txt; echo 'and another:'; "
       "uuencode pic.gif second.gif) > two.txt");
  EXPECT_EQ(ReadName(m_dir / "stripped.txt/pic.gif"), m_picture);
  EXPECT_EQ(ReadName(m_dir / "page.htm/pic.gif"), m_picture);
  EXPECT_EQ(Members(m_dir / "two.txt"), (std::vector<std::string>{"first.txt", "second.gif"}));
  EXPECT_EQ(ReadName(m_dir / "two.txt/second.gif"), m_picture);
  EXPECT_EQ(ReadName(m_dir / "two.txt/first.txt"), "a short note\n");
}

TEST_F(PkgEncoded, BrokenTextEndsWithoutHarmAndPlainTextIsNoContainer) {
  Make("uuencode pic.gif pic.gif > whole.txt && head -c 50000 whole.txt > cut.txt && "
       "sed '100,105d' whole.txt > holes.txt");
  // The last line, cut in the middle, is padded as if spaces were missing.
  std::string cut = ReadName(m_dir / "cut.txt/pic.gif");
  ASSERT_GT(cut.size(), 30000u);
  cut.resize(cut.size() - 45);
  EXPECT_EQ(m_picture.compare(0, cut.size(), cut), 0) << "what was decoded before is right";
  EXPECT_NE(ReadName(m_dir / "holes.txt/pic.gif"), "(none)");
  WriteFile(m_dir / "plain.txt", std::string(5000, 'x'));
  EXPECT_EQ(PkgOpen((m_dir / "plain.txt").c_str(), "rd"), nullptr);
  EXPECT_EQ(PkgOpen((m_dir / "pic.gif").c_str(), "rd"), nullptr) << "binary data is no text";
}

TEST_F(PkgEncoded, NumberedPartsAreReadAsOneText) {
  Make("uuencode pic.gif pic.gif > whole && split -n l/3 whole part && mv partaa post.uu1 && mv partab post.uu2 && "
       "mv partac post.uu3 && cp post.uu1 lone.uu1 && cp post.uu3 lone.uu3");
  EXPECT_EQ(ReadName(m_dir / "post.uu1/pic.gif"), m_picture);
  // Without its second part the first holds only the start of the file.
  std::string start = ReadName(m_dir / "lone.uu1/pic.gif");
  EXPECT_LT(start.size(), m_picture.size() / 2);
  EXPECT_EQ(m_picture.compare(0, start.size() - 45, start, 0, start.size() - 45), 0);
  EXPECT_TRUE(IsFile(m_dir / "post.uu2")) << "the parts stay as they are";
}

TEST_F(PkgEncoded, DecodedFilesAreKeptByTheCache) {
  Make("uuencode pic.gif pic.gif > one.uue");
  const std::string member = m_dir / "one.uue/pic.gif";
  auto layerOf = [](const std::string& name) {
    TPkgStream* stream = PkgOpen(name.c_str(), "rb");
    std::string layer = stream ? stream->info.layerId : "(none)";
    if (stream) ReadAll(stream);
    PkgClose(stream, kPkgKeep);
    return layer;
  };
  {
    TIntParamGuard size("CacheSize", 1);
    TIntParamGuard time("CacheTime", 60);
    EXPECT_EQ(layerOf(member), "uue");
    EXPECT_EQ(layerOf(member), "mem") << "decoded once, then served from memory";
    EXPECT_EQ(ReadName(member), m_picture);
    // A name about to be written is never served: the cache empties.
    TPkgStream* writer = PkgOpen(member.c_str(), "wb");
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(PkgClose(writer, kPkgAbandon), 0);
    EXPECT_EQ(layerOf(member), "uue");
  }
  TIntParamGuard size("CacheSize", 1);
  TIntParamGuard time("CacheTime", 0);
  layerOf(member);
  EXPECT_EQ(layerOf(member), "uue") << "with CacheTime 0 nothing is served";
}

TEST_F(PkgEncoded, WrittenFilesAreUuencodedIntoTheText) {
  auto write = [](const std::string& name, const std::string& bytes, int closeMode = kPkgKeep) {
    TPkgStream* stream = PkgOpen(name.c_str(), "wb");
    if (!stream) return -2;
    PkgWrite(bytes.data(), 1, bytes.size(), stream);
    return PkgClose(stream, closeMode);
  };
  const std::string text = m_dir / "new.uue";
  // Long enough for its text alone to make a file that is read as one.
  const std::string kNote = "a note of more than a few words, so that the text it makes is not too short\n";
  ASSERT_EQ(write(text + "/pic.gif", m_picture), 0);
  ASSERT_EQ(write(text + "/note.txt", kNote), 0);
  EXPECT_EQ(Members(text), (std::vector<std::string>{"pic.gif", "note.txt"}));
  Make("uudecode -o peer.gif new.uue && cmp -s peer.gif pic.gif");
  // Replacing the first file keeps the second.
  ASSERT_EQ(write(text + "/PIC.GIF", "replaced"), 0);
  EXPECT_EQ(ReadName(text + "/pic.gif"), "replaced");
  EXPECT_EQ(ReadName(text + "/note.txt"), kNote);
  // A write given up leaves the text as it was.
  const std::vector<uint8_t> before = ReadFile(text);
  EXPECT_EQ(write(text + "/pic.gif", "given up", kPkgAbandon), 0);
  EXPECT_EQ(ReadFile(text), before);
  // Deleting the files one by one ends with no text at all.
  EXPECT_EQ(PkgDelete((text + "/pic.gif").c_str()), 0);
  EXPECT_EQ(Members(text), std::vector<std::string>{"note.txt"});
  EXPECT_EQ(PkgDelete((text + "/note.txt").c_str()), 0);
  EXPECT_FALSE(IsFile(text));
}

// libarchive's archives come uuencoded: each opens through the encoded
// file as it does after uudecode.
TEST_F(PkgEncoded, ArchivesInsideEncodedFiles) {
  const std::filesystem::path data = ZER_TEST_DATA "/peer/zip";
  const std::string source = std::filesystem::canonical(data).string();
  PkgSetPtr("ZipPassword", "12345678");
  int compared = 0;
  for (const auto& file : std::filesystem::directory_iterator(source)) {
    if (file.path().extension() != ".uu") continue;
    const std::string encoded = file.path().string();
    const std::string decoded = m_dir / file.path().stem().string();
    SCOPED_TRACE(encoded);
    ASSERT_EQ(testsupport::Run("uudecode -o '" + decoded + "' '" + encoded + "'"), 0);
    std::vector<std::string> inside = Members(encoded);
    ASSERT_EQ(inside.size(), 1u);
    const std::string archive = encoded + "/" + inside[0];
    std::vector<std::string> members = Members(archive);
    EXPECT_EQ(members, Members(decoded));
    for (const std::string& member : members) {
      EXPECT_EQ(ReadName(archive + "/" + member), ReadName(decoded + "/" + member)) << member;
      ++compared;
    }
  }
  PkgSetPtr("ZipPassword", "");
  EXPECT_GT(compared, 50);
}

} // namespace

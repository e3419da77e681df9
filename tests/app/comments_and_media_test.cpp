// The main window's comments keep the bytes the files hold through the
// editor, the clipboard and a save.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "support/window_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::RunOutput;
using testsupport::WriteFileBytes;

// Copies an ImageMagick GIF with a comment extension put in after its global
// colour table: 6 bytes of signature and 7 of screen descriptor, whose packed
// byte (offset 10) gives the table's presence (bit 7) and size (bits 0..2).
void CopyGifWithComment(const std::string& from, const std::string& to, const std::string& comment) {
  std::vector<uint8_t> gif = ReadFileBytes(from);
  ASSERT_GT(gif.size(), 13u);
  const size_t table = gif[10] & 0x80 ? 3u << ((gif[10] & 7) + 1) : 0;
  std::vector<uint8_t> block{0x21, 0xFE}; // extension, comment label
  for (size_t at = 0; at < comment.size(); at += 255) {
    const std::string part = comment.substr(at, 255);
    block.push_back(static_cast<uint8_t>(part.size()));
    block.insert(block.end(), part.begin(), part.end());
  }
  block.push_back(0); // the end of the sub-blocks
  gif.insert(gif.begin() + static_cast<std::ptrdiff_t>(13 + table), block.begin(), block.end());
  WriteFileBytes(to, gif);
}

class CommentsAndMediaTest : public testsupport::ZerbalinWinTest {
protected:
  int Key(int virtualKey, unsigned modifiers, const TZerbalinWin& window) const {
    return window.AcceleratorCommand(virtualKey, modifiers);
  }
};

// A comment shows as its encoding reads; Copy comments gives that text, and
// an Edit comments left unchanged (or a paste of the same text) leaves the
// bytes as they were, so that a save writes what the file held. A line that
// fills the comments window's width gains no empty line on the way.
TEST_F(CommentsAndMediaTest, CommentsKeepTheirBytesThroughEditAndSave) {
  struct TCase {
    const char* what;
    std::string comment;   // in the GIF
    std::string shown;     // as Copy comments gives it, UTF-8
    std::string saved;     // the JPEG's COM marker
  };
  const TCase cases[] = {
      {"Latin-1", "caf\xe9 au lait \xa9 2001", "caf\u00e9 au lait \u00a9 2001\r\n", "caf\xe9 au lait \xa9 2001\r\n"},
      {"UTF-8", "caf\xc3\xa9 \xe2\x82\xac 2001", "caf\u00e9 \u20ac 2001\r\n", "caf\xc3\xa9 \xe2\x82\xac 2001\r\n"},
      {"a line wider than the window", std::string(150, 'x'),
       std::string(132, 'x') + "\r\n" + std::string(18, 'x') + "\r\n",
       std::string(132, 'x') + "\r\n" + std::string(18, 'x') + "\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    CopyGifWithComment(m_dir / "b.gif", m_dir / "c.gif", c.comment);
    auto window = Start({m_dir / "c.gif"});
    Run(*window, 20);
    const std::string read = window->Text(TTextWindow::Comments).GetText();
    window->Command(Key('O', kModifierControl, *window));
    EXPECT_EQ(m_system.clipboardText, c.shown);
    window->Command(Key('M', kModifierControl, *window));
    EXPECT_EQ(window->Text(TTextWindow::Comments).GetText(), read) << "pasted back";
    // OK with nothing changed, twice.
    m_system.editedText = c.shown;
    window->Command(Key('E', kModifierControl, *window));
    window->Command(Key('E', kModifierControl, *window));
    EXPECT_EQ(window->Text(TTextWindow::Comments).GetText(), read) << "edited";
    m_system.saveNames = {m_dir / "c.jpg"};
    m_system.saveType = 5;
    window->Command(kCmSaveAs);
    // rdjpgcom ends the comment with a line feed of its own.
    EXPECT_EQ(RunOutput("rdjpgcom -raw " + m_dir / "c.jpg"), c.saved + "\n");
    std::filesystem::remove(m_dir / "c.jpg");
  }
}

// Changed text is written in the encoding the comments were read in, and
// as UTF-8 only when that encoding lacks one of its characters.
TEST_F(CommentsAndMediaTest, EditedCommentsKeepTheirEncodingWhereTheyCan) {
  struct TCase {
    std::string comment;
    std::string edited;
    std::string bytes;
  };
  const TCase cases[] = {
      {"caf\xe9", "caf\u00e9 cr\u00e8me", "caf\xe9 cr\xe8me\r\n"},
      {"caf\xe9", "caf\u00e9 \u2713", "caf\xc3\xa9 \xe2\x9c\x93\r\n"},
      {"caf\xc3\xa9", "cr\u00e8me", "cr\xc3\xa8me\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.edited);
    CopyGifWithComment(m_dir / "b.gif", m_dir / "c.gif", c.comment);
    auto window = Start({m_dir / "c.gif"});
    Run(*window, 20);
    m_system.editedText = c.edited;
    window->Command(Key('E', kModifierControl, *window));
    EXPECT_EQ(window->Text(TTextWindow::Comments).GetText(), c.bytes);
  }
}

} // namespace

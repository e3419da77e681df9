// The main window's comments keep the bytes the files hold through the
// editor, the clipboard and a save; sounds in the show end and open whatever
// their names and settings, and Replay needs a sound to replay.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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
  // Runs the message loop with playback's polling, as the Qt window runs it,
  // until done says so or the window quits; false when neither came.
  bool RunWithMedia(TZerbalinWin& window, const std::function<bool()>& done) {
    for (int i = 0; i < 20000; ++i) {
      if (m_system.quit || done()) return true;
      if (const int command = m_host.TakeCommand()) {
        window.Command(command);
      } else if (!window.Idle()) {
        window.PollMedia();
        m_host.Advance(10);
        usleep(1000);
      }
    }
    return false;
  }
  std::string Log(const TZerbalinWin& window) const { return window.Text(TTextWindow::Log).GetText(); }
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

// Synchronous sound chosen while an asynchronous sound plays: that sound's
// end still closes it and the show goes on, the next sound played to its end
// at once.
TEST_F(CommentsAndMediaTest, SynchronousSoundChosenDuringAPlayLetsTheShowGoOn) {
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "1.wav", m_dir / "movie.avi"));
  std::filesystem::copy_file(m_dir / "1.wav", m_dir / "2.wav");
  auto window = Start({"-RunSlideshow", "-SlideshowDoneEvent=10", m_dir / "1.wav", m_dir / "2.wav"});
  ASSERT_TRUE(RunWithMedia(*window, [&] { return window->SoundPlaying(); }));
  window->Command(Key(kVkF1 + 2, kModifierControl, *window));
  ASSERT_EQ(window->Settings().Get(IntKey::SoundSynchronous), 1);
  EXPECT_TRUE(RunWithMedia(*window, [] { return false; })) << Log(*window);
  EXPECT_TRUE(m_system.quit) << "the show ended";
  EXPECT_NE(Log(*window).find("MCI: close sound"), std::string::npos) << Log(*window);
  EXPECT_EQ(Log(*window).find("err: "), std::string::npos) << Log(*window);
}

// A double quote in a name is written twice in the open command, which the
// interpreter reads back as the name.
TEST_F(CommentsAndMediaTest, SoundWithADoubleQuoteInItsNameOpens) {
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "say \"cheese\".wav", m_dir / "movie.avi"));
  auto window = Start({"-RunSlideshow", "-SlideshowDoneEvent=10", m_dir / "say \"cheese\".wav"});
  EXPECT_TRUE(RunWithMedia(*window, [] { return false; }));
  const std::string log = Log(*window);
  EXPECT_NE(log.find("MCI: open \"" + m_dir / "say \"\"cheese\"\".wav\" type waveaudio alias sound"), std::string::npos)
      << log;
  EXPECT_NE(log.find("MCI: close sound"), std::string::npos) << log;
  EXPECT_EQ(log.find("err: "), std::string::npos) << log;
}

// Replay sound and Replay movie need a sound and a movie: without one they
// are disabled, and their keys do nothing.
TEST_F(CommentsAndMediaTest, ReplayWithoutASoundIsDisabledAndDoesNothing) {
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "1.wav", m_dir / "movie.avi"));
  auto window = Start({m_dir / "1.wav"});
  ASSERT_TRUE(RunWithMedia(*window, [&] { return Log(*window).find("MCI: close sound") != std::string::npos; }));
  EXPECT_TRUE(window->CommandEnabled(kCmReplaySound)) << "a sound to replay";
  window->Command(kCmClose);
  Run(*window, 10);
  for (const int command : {kCmReplaySound, kCmReplayMovie}) EXPECT_FALSE(window->CommandEnabled(command)) << command;
  const std::string before = Log(*window);
  window->Command(Key(kVkHome, kModifierControl, *window));
  window->Command(Key(kVkHome, kModifierAlt, *window));
  Run(*window, 10);
  EXPECT_EQ(Log(*window), before);
}

} // namespace

// What the main window holds back while it works on the picture or a dialog
// is open: a resize, a paint or a command that comes while a picture is
// read or written waits for the end of that work, and the slide show waits
// while a prompt or message box is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "app/command_ids.h"
#include "support/peer.h"
#include "support/window_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::ZerbalinWinTest;

class WindowHoldsTest : public ZerbalinWinTest {
protected:
  void SetUp() override {
    ZerbalinWinTest::SetUp();
    ASSERT_EQ(testsupport::Run("convert -size 120x80 plasma:fractal -seed 5 -type TrueColor " + m_dir / "photo.bmp"),
              0);
  }

  // What the Qt window does when the window manager resizes it while
  // messages are pumped: the client area changes size, the window is told
  // and paints the new area, which starts out filled with kUntouched.
  void ResizeAndPaint(TZerbalinWin& window, TSize size) {
    m_host.clientSize = size;
    window.Resized();
    Paint(window);
  }
  void Paint(TZerbalinWin& window) {
    const TSize size = m_host.clientSize;
    m_painted.assign(static_cast<size_t>(size.width) * size.height, kUntouched);
    window.Paint({reinterpret_cast<uint8_t*>(m_painted.data()), size.width, size.height, size.width * 4});
  }
  bool NothingPainted() const {
    return std::all_of(m_painted.begin(), m_painted.end(), [](uint32_t pixel) { return pixel == kUntouched; });
  }

  static constexpr uint32_t kUntouched = 0x12345678;
  std::vector<uint32_t> m_painted;
};

// A resize that comes while a picture is written changes nothing in the
// file: it equals the one written without it, byte for byte, and the window
// is not painted meanwhile; the new size is applied afterwards. The same for
// a thumbnail sheet, which a resize used to lay out into one of its cells.
TEST_F(WindowHoldsTest, AResizeDuringASaveChangesNothingSaved) {
  const struct {
    const char* name;
    std::vector<std::string> words;
    TSize client;
    bool sheet;
  } cases[] = {
      {"picture", {m_dir / "photo.bmp"}, {800, 600}, false},
      {"sheet", {m_dir / "photo.bmp", m_dir / "b.gif", "-ThumbnailsAcross=2", "-ThumbnailsDown=1"}, {200, 100}, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    m_host.clientSize = test.client;
    m_host.commands.clear();
    auto window = Start(test.words);
    Run(*window, 20);
    if (test.sheet) {
      window->Command(window->AcceleratorCommand('T', 0));
      Run(*window, 100);
    }
    const std::string quiet = m_dir / (std::string(test.name) + "_quiet.bmp");
    const std::string resized = m_dir / (std::string(test.name) + "_resized.bmp");
    m_system.saveType = 2;
    m_system.saveNames = {quiet, resized};
    window->Command(kCmSaveAs);
    m_host.QueueMessage([&] { ResizeAndPaint(*window, {300, 70}); });
    window->Command(kCmSaveAs);
    EXPECT_TRUE(m_host.messages.empty()) << "the resize came during the save";
    EXPECT_TRUE(NothingPainted());
    EXPECT_EQ(ReadFileBytes(quiet), ReadFileBytes(resized));
    EXPECT_EQ(testsupport::PeerDecode(resized).width, test.sheet ? 200 : 120);
    if (test.sheet) continue;
    // Afterwards the picture is fitted into the new size: 105 x 70 in the
    // middle, the background beside it.
    Paint(*window);
    EXPECT_EQ(m_painted[35 * 300 + 20], 0xffc0c0c0u);
    EXPECT_NE(m_painted[35 * 300 + 150], 0xffc0c0c0u);
    EXPECT_NE(m_painted[35 * 300 + 150], kUntouched);
  }
}

// A key or menu command during a save neither stops nor spoils it: the file
// is written in full and the command runs when the save is done.
TEST_F(WindowHoldsTest, ACommandDuringASaveWaitsForItsEnd) {
  auto window = Start({m_dir / "photo.bmp", m_dir / "b.gif"});
  Run(*window, 20);
  m_system.saveNames = {m_dir / "quiet.tga", m_dir / "busy.tga"};
  window->Command(kCmSaveAs);
  m_host.QueueMessage([&] { window->Command(kCmNext); });
  window->Command(kCmSaveAs);
  EXPECT_TRUE(m_host.messages.empty()) << "the command came during the save";
  EXPECT_EQ(ReadFileBytes(m_dir / "quiet.tga"), ReadFileBytes(m_dir / "busy.tga"));
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Saved " + m_dir / "photo.bmp" + " as " + m_dir / "busy.tga"), std::string::npos) << log;
  EXPECT_EQ(m_host.commands, std::deque<int>{kCmNext});
  Run(*window, 20);
  EXPECT_NE(m_host.Title().find("b.gif"), std::string::npos) << m_host.Title();
}

// A resize while a picture is read waits until the picture is there: the
// window keeps what it showed meanwhile, and the new picture is laid out for
// the new size.
TEST_F(WindowHoldsTest, AResizeDuringALoadIsAppliedWhenThePictureIsThere) {
  auto window = Start({m_dir / "b.gif", m_dir / "photo.bmp"});
  Run(*window, 20);
  window->Command(kCmNext);
  m_host.QueueMessage([&] { ResizeAndPaint(*window, {60, 40}); });
  Run(*window, 20);
  EXPECT_TRUE(m_host.messages.empty()) << "the resize came during the load";
  EXPECT_TRUE(NothingPainted());
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  window->Image().OutputRect(left, top, right, bottom);
  EXPECT_EQ(right - left, 60);
  EXPECT_EQ(bottom - top, 40);
}

// Every prompt and message box pauses the show: while one is open the delay
// runs out and the idle step comes again and again, but the show stays
// where it is, and moves on once the answer is given.
TEST_F(WindowHoldsTest, PromptsAndMessageBoxesPauseTheShow) {
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif", "-RunSlideshow=1", "-DelayBetweenImages=2"});
  Run(*window, 5);
  ASSERT_NE(m_host.Title().find("a.gif"), std::string::npos) << m_host.Title();
  int opened = 0;
  m_host.whileDialogOpen = [&] {
    ++opened;
    for (int i = 0; i < 4; ++i) {
      m_host.Advance(3000);
      window->Idle();
    }
  };
  const struct {
    const char* name;
    int command;
  } cases[] = {{"Go to", kCmGoTo},           {"delay", kCmDelayImages},     {"file spec", kCmFileSpec},
               {"a number", kCmThumbnailsAcross}, {"copy to", kCmCopyImage}, {"delete", kCmDeleteImage}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    opened = 0;
    window->Command(test.command);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(m_host.commands.empty()) << m_host.commands.front();
  }
  m_host.whileDialogOpen = nullptr;
  window->Idle();
  window->Idle();
  EXPECT_EQ(m_host.commands, std::deque<int>{kCmNext});
}

// A command that comes while a dialog waits for its answer (one posted
// before it opened, which the dialog's own loop would run) waits too: the
// picture does not change under the dialog, and the command runs once it is
// answered.
TEST_F(WindowHoldsTest, ACommandDuringADialogWaitsForTheAnswer) {
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window, 5);
  m_host.whileDialogOpen = [&] {
    window->Command(kCmNext);
    Run(*window, 10);
  };
  window->Command(kCmGoTo);
  m_host.whileDialogOpen = nullptr;
  EXPECT_NE(m_host.Title().find("a.gif"), std::string::npos) << m_host.Title();
  Run(*window, 10);
  EXPECT_NE(m_host.Title().find("b.gif"), std::string::npos) << m_host.Title();
}

} // namespace

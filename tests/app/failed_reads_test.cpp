// A failure looks like a failure: a file that was not read says what went
// wrong in the title and the log, and is never saved; a picture held
// reduced for want of memory is shown but not saved either; help that
// cannot be shown says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/zerbalin_win.h"
#include "support/image_fixture.h"
#include "support/peer.h"
#include "support/window_fixture.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;
using testsupport::ZerbalinWinTest;

// A placeable metafile header (key, handle, bounding box 0, 0, 16, 16, 96
// units per inch, reserved, checksum), then a metafile header and its end
// record: a picture only a metafile player could draw.
const std::vector<uint8_t> kMetafile = {
    0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 16, 0, 16, 0, 96, 0, 0, 0, 0, 0, 0, 0,
    1,    0,    9,    0,    0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0,
};

class FailedReads : public ZerbalinWinTest {
protected:
  std::string Log(TZerbalinWin& window) { return window.Text(TTextWindow::Log).GetText(); }
};

TEST_F(FailedReads, TitleAndLogSayWhatWentWrong) {
  WriteFileBytes(m_dir / "notes.gif", std::string(300, 'x'));
  WriteFileBytes(m_dir / "drawing.wmf", kMetafile);
  const struct {
    std::string name;
    std::string title;
    std::string logged;
  } cases[] = {
      {"no such picture.jpg", " ??? File: [NAME] (cannot open)", "Could not load image NAME: cannot open"},
      {"notes.gif", " ??? File: [NAME] (not a picture this program reads)",
       "Could not load image NAME: not a picture this program reads"},
      {"drawing.wmf", " WMF File: [NAME] (the picture could not be read)",
       "Could not load image NAME: the picture could not be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = m_dir / c.name;
    const auto named = [&name](std::string text) { return text.replace(text.find("NAME"), 4, name); };
    auto window = Start({name});
    Run(*window, 20);
    EXPECT_EQ(m_host.Title(), named(c.title));
    const std::string log = Log(*window);
    EXPECT_NE(log.find(named(c.logged)), std::string::npos) << log;
    EXPECT_EQ(log.find("Loaded image"), std::string::npos) << log;
  }
}

// A metafile that no player drew leaves the blank picture, which is not
// saved: the old file stays and the batch fails.
TEST_F(FailedReads, UndrawnMetafileIsNotSavedInABatch) {
  WriteFileBytes(m_dir / "drawing.wmf", kMetafile);
  WriteFileBytes(m_dir / "drawing.bmp", std::string("keep me"));
  auto window = Start({"-ConvertToBMP", m_dir / "drawing.wmf", m_dir / "a.gif"});
  Run(*window);
  EXPECT_TRUE(m_system.quit);
  EXPECT_EQ(ReadFileBytes(m_dir / "drawing.bmp"), std::vector<uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_TRUE(Exists("a.bmp"));
  EXPECT_EQ(window->ExitStatus(), 1);
  EXPECT_NE(Log(*window).find("Not saved: " + m_dir / "drawing.wmf" + " could not be read"), std::string::npos);
}

// Save As from the menu writes no blank picture for a file not read.
TEST_F(FailedReads, SaveAsRefusesAFileNotRead) {
  auto window = Start({m_dir / "no such picture.jpg"});
  Run(*window, 20);
  m_system.saveNames = {m_dir / "blank.bmp"};
  window->Command(kCmSaveAs);
  EXPECT_TRUE(m_system.captions.empty()) << "no save dialog";
  EXPECT_FALSE(Exists("blank.bmp"));
  EXPECT_NE(Log(*window).find("Not saved: " + m_dir / "no such picture.jpg" + " could not be read"),
            std::string::npos);
}

// Short of memory, the window shows the picture reduced and says so, and
// neither Save As nor a conversion writes the reduced copy.
TEST_F(FailedReads, PictureHeldReducedIsShownButNeverSaved) {
  ASSERT_EQ(testsupport::Run("convert -size 400x300 plasma:fractal -seed 5 -colors 200 " + m_dir / "big.gif"), 0);
  const testsupport::TPictureBudget budget(100000); // 150 000 bytes would be needed
  {
    auto window = Start({m_dir / "big.gif"});
    Run(*window, 20);
    EXPECT_NE(m_host.Title().find("] (200x150x"), std::string::npos) << m_host.Title();
    EXPECT_NE(m_host.Title().find(" dpi, held reduced)"), std::string::npos) << m_host.Title();
    const std::string log = Log(*window);
    EXPECT_NE(log.find("Picture of 400x300 pixels held at 200x150: not enough memory"), std::string::npos) << log;
    EXPECT_NE(log.find("Loaded image " + m_dir / "big.gif"), std::string::npos) << log;
    m_system.saveNames = {m_dir / "small.bmp"};
    window->Command(kCmSaveAs);
    EXPECT_FALSE(Exists("small.bmp"));
    EXPECT_NE(Log(*window).find("Not saved: " + m_dir / "big.gif" + " could be held only reduced"),
              std::string::npos);
  }
  auto batch = Start({"-ConvertToBMP", m_dir / "big.gif"});
  Run(*batch);
  EXPECT_FALSE(Exists("big.bmp"));
  EXPECT_EQ(batch->ExitStatus(), 1);
}

// Help that cannot be shown (here the test program has no help page beside
// it) says so in a message box, not only in the log the user may not see.
TEST_F(FailedReads, HelpThatCannotBeShownSaysSo) {
  auto window = Start({});
  Run(*window, 5);
  window->Command(kCmHelpContents);
  ASSERT_FALSE(m_host.boxes.empty());
  EXPECT_EQ(m_host.boxes.back().caption, "Error");
  EXPECT_EQ(m_host.boxes.back().text.rfind("Help is not available: ", 0), 0u) << m_host.boxes.back().text;
  EXPECT_NE(Log(*window).find(m_host.boxes.back().text), std::string::npos);
}

} // namespace

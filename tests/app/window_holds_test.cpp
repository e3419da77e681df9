// What the main window holds back while it works on the picture or a dialog
// is open: a resize, a paint or a command that comes while a picture is
// read or written waits for the end of that work, and the slide show waits
// while a prompt or message box is open.
#include <gtest/gtest.h>

#include <deque>

#include "app/command_ids.h"
#include "support/window_fixture.h"

namespace {

using testsupport::ZerbalinWinTest;

class WindowHoldsTest : public ZerbalinWinTest {};

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

} // namespace

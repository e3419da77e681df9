// The slide-show engine with a manual clock and a fake window: moves and
// repeat counts, the idle step with its delays and events, and the actions
// the events carry out.
#include "view/slide_show.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log_sink.h"
#include "filepkg/pkg_test_support.h"
#include "settings/profile.h"
#include "support/fake_host.h"
#include "view/slide_list.h"

using namespace pkgtest;

namespace {

class FakeWindow : public TShowWindow {
public:
  bool PaintNextPortion() override { return portionsLeft > 0 && portionsLeft--; }
  bool DialogOpen() const override { return false; }
  bool PrintingOrDragging() const override { return false; }
  bool ThumbnailPageFull() const override { return false; }
  bool SoundPlaying() const override { return soundPlaying; }
  bool MoviePlaying() const override { return false; }
  void PlaySound(const std::string& name) override {
    played.push_back(name);
    soundPlaying = true;
  }
  void PlayMovie(const std::string& name) override { played.push_back(name); }
  void StopSound() override { soundPlaying = false; }
  void StopMovie() override {}
  TLoaded LoadPicture(const std::string& name) override {
    loaded.push_back(name);
    return {format, outcome};
  }
  TShown ShowPicture() override { return {{10, 20, 110, 220}, false}; }
  void OpenLogWindow() override { ++logWindowOpened; }
  bool PrintPicture() override { return actions.emplace_back("print"), true; }
  bool SaveWallpaper() override { return actions.emplace_back("wallpaper"), true; }
  bool SavePictureAs() override { return actions.emplace_back("save"), true; }
  void KeepAwake(bool on) override { awake.push_back(on); }
  bool AskPassword() override {
    ++prompts;
    return passwordGiven;
  }
  void DiscardPendingInput() override { ++discards; }
  void ShowPointer() override { ++pointerShown; }
  bool ChooseFiles(const std::string& caption, int32_t& typeIndex, std::vector<std::string>& names) override {
    captions.push_back(caption);
    typeIndex = 15;
    names = chosen;
    return !chosen.empty();
  }

  int portionsLeft = 0;
  bool soundPlaying = false;
  std::string format = "gif";
  TReadOutcome outcome = TReadOutcome::Complete;
  std::vector<std::string> loaded;
  std::vector<std::string> played;
  std::vector<std::string> actions;
  std::vector<bool> awake;
  int prompts = 0;
  bool passwordGiven = false;
  int discards = 0;
  int pointerShown = 0;
  int logWindowOpened = 0;
  std::vector<std::string> chosen;
  std::vector<std::string> captions;
};

class SlideShow : public testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"a1.gif", "a2.gif", "a3.gif", "a4.gif", "a5.gif"}) WriteFile(m_dir / name, "x");
    m_list.Add(m_dir.Path() + "/", 15, false, false, false);
    m_list.CurrentName(true);
    m_host.tick = 100000;
    ClearLoggedMessages();
  }
  std::string Current() { return m_list.CurrentName(false).substr(m_dir.Path().size() + 1); }
  // Runs the commands the engine posted, as the main window would.
  void RunPosted() {
    while (int command = m_host.TakeCommand()) ASSERT_TRUE(m_show.Command(command)) << command;
  }

  TTempDir m_dir;
  TProfile m_settings;
  testsupport::FakeHost m_host;
  FakeWindow m_window;
  TSlideList m_list{m_settings};
  TSlideShow m_show{m_host, m_settings, m_list, m_window};
};

TEST_F(SlideShow, RepeatCountsMoveSeveralAndPreviousFollowsTheDirection) {
  m_show.Command(kCmRepeat1 + 2);
  m_show.Command(kCmNext);
  EXPECT_EQ(Current(), "a4.gif") << "3 then Next moves three forward";
  EXPECT_EQ(m_host.TakeCommand(), kCmReload);
  m_show.Command(kCmNext);
  EXPECT_EQ(Current(), "a5.gif") << "the count is 1 again";
  m_show.Command(kCmNext);
  EXPECT_EQ(Current(), "a1.gif") << "Next on the last wraps";
  m_show.Command(kCmPrevious);
  EXPECT_EQ(Current(), "a5.gif");

  m_list.SeedRandom(3);
  m_show.Command(kCmRandom);
  const std::string afterRandom = Current();
  m_show.Command(kCmRandom);
  m_show.Command(kCmPrevious);
  EXPECT_EQ(Current(), afterRandom) << "Previous after Random goes back along the random order";
}

TEST_F(SlideShow, TheDelayPassesThenTheEventsRunThenTheShowMoves) {
  m_settings.Set(IntKey::DelayBetweenImages, 5);
  m_show.Command(kCmRunSlideshow);
  EXPECT_EQ(m_window.awake, std::vector<bool>{true}) << "the desktop is kept awake";
  m_show.Idle();
  EXPECT_EQ(m_host.TakeCommand(), kCmNext) << "the first move comes at once";
  m_show.Command(kCmReload);
  EXPECT_EQ(m_window.loaded.size(), 1u);
  EXPECT_EQ(LoggedMessages().back().rfind("Loaded image " + m_list.CurrentName(false) + " in ", 0), 0u);

  m_settings.Set(IntKey::ImageDisplayEvent, kActionSaveGif + 1);
  m_host.Advance(4999);
  m_show.Idle();
  EXPECT_TRUE(m_host.commands.empty() && m_window.actions.empty());
  m_host.Advance(1);
  m_show.Idle();
  EXPECT_EQ(m_window.actions, std::vector<std::string>{"save"});
  EXPECT_EQ(m_settings.Get(IntKey::SaveAsIndex), 2) << "BMP";
  EXPECT_TRUE(m_host.commands.empty()) << "the move waits for the next idle call";
  m_show.Idle();
  EXPECT_EQ(m_host.TakeCommand(), kCmNext);

  m_window.portionsLeft = 1;
  m_host.Advance(10000);
  m_show.Idle();
  EXPECT_TRUE(m_host.commands.empty()) << "a transition still painting comes first";
  m_show.Command(kCmRunSlideshow);
  EXPECT_EQ(m_window.awake, (std::vector<bool>{true, false}));
  m_show.Idle();
  EXPECT_TRUE(m_host.commands.empty()) << "a stopped show does not move";
}

TEST_F(SlideShow, TheLastEntryStopsOrEndsTheShowAsItsEventSays) {
  m_settings.Set(IntKey::DelayBetweenImages, 0);
  for (int32_t action : {kActionStop, kActionExit}) {
    m_list.SelectByName("a5");
    m_settings.Set(IntKey::SlideshowDoneEvent, action);
    m_settings.Set(IntKey::RunSlideshow, 1);
    m_show.Command(kCmReload);
    m_host.Advance(1000);
    m_show.Idle();
    EXPECT_FALSE(m_show.Running()) << action;
    EXPECT_EQ(m_host.TakeCommand(), action == kActionExit ? kCmExit : 0) << action;
  }
}

TEST_F(SlideShow, ASoundWithoutLoopIsNotLeftUntilItEndedAndItsDelayPassed) {
  WriteFile(m_dir / "a1b.wav", "x");
  WriteFile(m_dir / "a1c.wav", "x");
  m_list.Clear();
  m_list.Add(m_dir.Path() + "/", 15, false, false, false);
  m_list.SelectByName("a1");
  m_settings.Set(IntKey::SoundEnable, 1);
  m_settings.Set(IntKey::DelayBetweenSounds, 2);
  m_show.Command(kCmRunSlideshow);
  m_show.Command(kCmNext);
  m_host.commands.clear();
  m_show.Command(kCmReload);
  ASSERT_EQ(m_window.played.size(), 1u);
  m_host.Advance(60000);
  m_show.Idle();
  m_show.Idle();
  EXPECT_TRUE(m_host.commands.empty()) << "the sound still plays";
  m_window.soundPlaying = false;
  m_host.Advance(1999);
  m_show.Idle();
  m_show.Idle();
  EXPECT_TRUE(m_host.commands.empty());
  m_host.Advance(1);
  m_show.Idle();
  m_show.Idle();
  EXPECT_EQ(m_host.TakeCommand(), kCmNext);
}

TEST_F(SlideShow, PictureActionsSkipAFileThatCouldNotBeRead) {
  m_window.format = "???";
  m_window.outcome = TReadOutcome::NotPicture;
  m_show.Command(kCmReload);
  for (int32_t action : {kActionPrint, kActionWallpaper, kActionSaveTif}) m_show.CarryOut(action);
  EXPECT_TRUE(m_window.actions.empty()) << "no blank picture is written";
  const std::string name = m_list.CurrentName(false);
  const std::vector<std::string> log = LoggedMessages();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{"Not printed: " + name + " could not be read",
                                      "Not set as wallpaper: " + name + " could not be read",
                                      "Not saved: " + name + " could not be read"}));
  EXPECT_TRUE(m_show.MetUnreadFile());

  m_show.CarryOut(kActionIgnore);
  m_show.CarryOut(kCmShowComments);
  EXPECT_EQ(m_host.TakeCommand(), kCmShowComments) << "other codes run as menu commands";
}

TEST_F(SlideShow, ShownPicturesAreHitAndArtPicturesAreExplained) {
  m_settings.Set(IntKey::EnableARTAdvisory, 1);
  m_window.format = "art";
  m_show.Command(kCmReload);
  m_show.Command(kCmReload);
  const std::vector<std::string> log = LoggedMessages();
  EXPECT_EQ(log[log.size() - 7], "This image is in AOL's proprietary .ART file format.");
  EXPECT_EQ(log.back(), "Members|Preferences|WWW|Uncompressed Graphics");
  EXPECT_EQ(m_window.logWindowOpened, 1) << "only the first time";
  m_list.Step(kSortedNext, 2);
  EXPECT_TRUE(m_list.HitTest(50, 100));
  EXPECT_EQ(Current(), "a1.gif") << "the entry drawn there";
}

TEST_F(SlideShow, InputEventsActOrKeepTheirNormalMeaning) {
  m_show.Input({TShowInput::kMovement, 100, 100}); // the reference, taken while stopped
  m_show.Command(kCmRunSlideshow);
  m_settings.Set(IntKey::KeystrokeEvent, kActionNone);
  EXPECT_FALSE(m_show.Input({TShowInput::kKey})) << "0: keys keep their normal meaning";
  m_settings.Set(IntKey::KeystrokeEvent, kActionIgnore);
  EXPECT_TRUE(m_show.Input({TShowInput::kKey})) << "11: keys do nothing";
  m_settings.Set(IntKey::MouseButtonEvent, kActionStop);
  m_settings.Set(IntKey::MouseMovementEvent, kActionExit);
  m_settings.Set(IntKey::SlideshowPassword, 1);
  EXPECT_FALSE(m_show.Input({TShowInput::kMovement, 116, 84})) << "16 pixels is no movement";
  EXPECT_TRUE(m_show.Input({TShowInput::kMovement, 117, 100}));
  EXPECT_EQ(m_window.prompts, 1);
  EXPECT_EQ(m_window.discards, 1) << "a cancelled prompt drops the waiting input";
  EXPECT_TRUE(m_show.Running());
  EXPECT_EQ(m_window.pointerShown, 1);
  m_window.passwordGiven = true;
  EXPECT_TRUE(m_show.Input({TShowInput::kMovement, 60, 100})) << "the reference stays while the show runs";
  EXPECT_FALSE(m_show.Running());
  EXPECT_EQ(m_host.TakeCommand(), kCmExit);
  m_show.Command(kCmRunSlideshow);
  EXPECT_TRUE(m_show.Input({TShowInput::kButton}));
  EXPECT_FALSE(m_show.Running()) << "a button stops the show without a prompt";
}

TEST_F(SlideShow, OpenConvertFileSpecAndGoToFillAndSearchTheList) {
  m_window.chosen = {m_dir / "a2.gif"};
  m_settings.Set(IntKey::EnableDirectoryScan, 1);
  m_show.Command(kCmOpen);
  EXPECT_EQ(m_host.TakeCommand(), kCmReload);
  EXPECT_EQ(Current(), "a2.gif");
  m_show.Command(kCmNext);
  EXPECT_EQ(Current(), "a3.gif") << "one name opened with its folder";
  EXPECT_EQ(m_settings.Get(IntKey::OpenIndex), 15);

  m_window.chosen = {m_dir / "a4.gif;" + (m_dir / "a2.gif")};
  m_show.Command(kCmConvertGif + 4);
  EXPECT_EQ(m_window.captions.back(), "Convert");
  EXPECT_EQ(m_list.Count(), 2) << "no folder scan for a conversion";
  EXPECT_EQ(m_list.Head(), m_list.Current());
  EXPECT_TRUE(m_show.Running());
  EXPECT_EQ(m_settings.Get(IntKey::ImageDisplayEvent), kActionSaveGif + 4) << "JPG";
  EXPECT_EQ(m_settings.Get(IntKey::SlideshowDoneEvent), kActionStop);
  EXPECT_EQ(m_settings.Get(IntKey::DelayBetweenImages), 0);

  m_host.promptAnswers = {m_dir / "a5.gif;" + (m_dir / "a1.gif"), "a1"};
  m_show.Command(kCmFileSpec);
  EXPECT_EQ(m_settings.GetString(StrKey::FileSpec), m_dir / "a5.gif;" + (m_dir / "a1.gif"));
  EXPECT_EQ(m_list.Count(), 2);
  m_show.Command(kCmGoTo);
  EXPECT_EQ(Current(), "a1.gif");
}

TEST_F(SlideShow, SettingsCommandsStoreDelaysAndEventActions) {
  m_host.promptAnswers = {"123456789", "7"};
  m_show.Command(kCmDelayImages);
  EXPECT_EQ(m_settings.Get(IntKey::DelayBetweenImages), 9999) << "clamped";
  m_show.Command(kCmDelayMovies);
  EXPECT_EQ(m_settings.Get(IntKey::DelayBetweenMovies), 7);
  m_show.Command(kCmMouseMovementEvent + int{kActionExit});
  EXPECT_EQ(m_settings.Get(IntKey::MouseMovementEvent), kActionExit);
  m_show.Command(kCmRandomOrder);
  EXPECT_EQ(m_settings.Get(IntKey::RandomOrder), 1);
  EXPECT_FALSE(m_show.Command(kCmExit)) << "not the engine's";
}

} // namespace

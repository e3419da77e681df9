// What the program writes on its own: the settings file holds only what the
// user chose, never a value a mode forced (a conversion, a thumbnail sheet,
// the clipboard event, the saver's show), and the names it makes up for
// pasted pictures and sheets never replace a file, inside archives too.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "settings/ini_file.h"
#include "settings/profile.h"
#include "support/peer.h"
#include "support/window_fixture.h"

namespace {

using testsupport::ZerbalinWinTest;

// The settings the modes force; with nothing chosen by the user they must
// never reach the file.
const char* const kForcedKeys[] = {"RunSlideshow",       "RandomOrder",        "SoundEnable",
                                   "MovieEnable",        "DelayBetweenImages", "DelayBetweenSounds",
                                   "DelayBetweenMovies", "ImageDisplayEvent",  "SlideshowDoneEvent",
                                   "ScreenDoneEvent",    "ThumbnailsEnable"};

// The tests run in the scratch folder: pasted pictures and their copies go
// to the current folder (a start without files needs -AutoResume=0 to stay
// there).
class ProgramWritesTest : public ZerbalinWinTest {
protected:
  void SetUp() override {
    ZerbalinWinTest::SetUp();
    m_before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
  }
  void TearDown() override {
    std::filesystem::current_path(m_before);
    ZerbalinWinTest::TearDown();
  }

  // The forced keys the settings file holds.
  std::vector<std::string> ForcedKeysInFile(const std::string& file) const {
    std::vector<std::string> found;
    for (const auto& [key, value] : TIniFile(m_dir / ("home/" + file)).Entries(kProfileSection))
      for (const char* forced : kForcedKeys)
        if (key == forced) found.push_back(key + "=" + value);
    return found;
  }

  // A picture another program puts on the clipboard: w x h of one grey.
  void CopyPicture(int32_t width, int32_t height, uint8_t grey) {
    m_system.clipboardImage = TDib{};
    m_system.clipboardImage->width = width;
    m_system.clipboardImage->height = height;
    m_system.clipboardImage->bitCount = 24;
    m_system.clipboardImage->bits.assign(static_cast<size_t>(m_system.clipboardImage->Stride()) * height, grey);
  }

  std::filesystem::path m_before;
};

struct TModeCase {
  const char* name;
  std::vector<std::string> words; // besides -RememberOptions
  // Enters the mode on a started window.
  std::function<void(TZerbalinWin&)> enter;
};

// RememberOptions on, a mode entered, Save options pressed in it and the
// program left in it: neither write holds a forced value, and the next
// plain start shows its one file instead of converting the folder over the
// user's files.
TEST_F(ProgramWritesTest, ModesForceNothingIntoTheSettingsFile) {
  const std::vector<TModeCase> cases = {
      {"menu Convert to JPG", {"a.gif"},
       [this](TZerbalinWin& window) {
         m_system.chosenFiles = {m_dir / "a.gif"};
         window.Command(kCmConvertGif + 4);
         Run(window, 3);
       }},
      {"menu Convert, run to its end", {"a.gif"},
       [this](TZerbalinWin& window) {
         m_system.chosenFiles = {m_dir / "a.gif"};
         window.Command(kCmConvertGif + 4);
         Run(window, 50);
         EXPECT_FALSE(window.Settings().Get(IntKey::RunSlideshow));
       }},
      {"thumbnail sheet", {"a.gif", "b.gif", "-ThumbnailsAcross=2", "-ThumbnailsDown=1"},
       [this](TZerbalinWin& window) {
         window.Command(window.AcceleratorCommand('T', 0));
         Run(window, 50);
         EXPECT_TRUE(window.Settings().Get(IntKey::ThumbnailsEnable));
       }},
      {"thumbnail sheet, next page started", {"a.gif", "b.gif", "-ThumbnailsAcross=2", "-ThumbnailsDown=1"},
       [this](TZerbalinWin& window) {
         window.Command(kCmShowThumbnails);
         Run(window, 50);
         window.List().Step(kSortedPrev, 1);
         window.Command(kCmShowThumbnails);
         EXPECT_TRUE(window.Settings().Get(IntKey::RunSlideshow));
       }},
      {"clipboard event that leaves the program", {"-ClipboardEvent=10", "-AutoResume=0"},
       [this](TZerbalinWin& window) {
         CopyPicture(4, 4, 200);
         window.ClipboardChanged();
         Run(window, 5);
         EXPECT_TRUE(m_system.quit);
       }},
  };
  for (const TModeCase& mode : cases) {
    SCOPED_TRACE(mode.name);
    std::filesystem::remove(m_dir / "home/zerbalin.ini");
    m_system.quit = false;
    std::vector<std::string> words{"-RememberOptions"};
    for (const std::string& word : mode.words) words.push_back(word.ends_with(".gif") ? m_dir / word : word);
    {
      auto window = Start(words);
      Run(*window, 20);
      mode.enter(*window);
      window->Command(kCmSaveOptions);
      EXPECT_EQ(ForcedKeysInFile("zerbalin.ini"), std::vector<std::string>{}) << "Save options";
      window->Close();
    }
    EXPECT_EQ(ForcedKeysInFile("zerbalin.ini"), std::vector<std::string>{}) << "at exit";
    EXPECT_EQ(TProfile(TProfileStart{StartMode::Viewer, "zerbalin", {}, false}, m_host).Get(IntKey::RememberOptions),
              1);

    testsupport::WriteFileBytes(m_dir / "b.jpg", std::string("the user's own b.jpg"));
    m_system.quit = false;
    auto window = Start({m_dir / "b.gif"});
    Run(*window, 100);
    EXPECT_FALSE(m_system.quit);
    EXPECT_FALSE(window->Settings().Get(IntKey::RunSlideshow));
    EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "b.jpg"),
              std::vector<uint8_t>(std::begin("the user's own b.jpg"), std::end("the user's own b.jpg") - 1));
    EXPECT_NE(m_host.Title().find(" GIF File: [" + m_dir / "b.gif" + "]"), std::string::npos) << m_host.Title();
    window->Close();
  }
}

// The saver ends at the first movement, which stops its show on the way
// out; with RememberOptions in the saver's own settings file the stop must
// not be written, or the next saver start would show one still picture.
TEST_F(ProgramWritesTest, SaverEndingKeepsItsShowInItsSettingsFile) {
  testsupport::WriteFileBytes(m_dir / "home/zersav32.ini",
                              "[Zerbalin]\nRememberOptions=1\nFileSpec=" + m_dir / "a.gif" + "\n");
  const auto startSaver = [&] {
    const char* argv[] = {"zersav32.scr"};
    auto window = std::make_unique<TZerbalinWin>(m_host, m_system, StartMode::Saver, "zersav32.scr",
                                                 ParseArguments(1, argv));
    window->Start();
    return window;
  };
  {
    auto saver = startSaver();
    Run(*saver, 20);
    ASSERT_TRUE(saver->Settings().Get(IntKey::RunSlideshow));
    saver->Input({TShowInput::kMovement, 100, 100});
    saver->Input({TShowInput::kMovement, 130, 100});
    Run(*saver, 5);
    EXPECT_TRUE(m_system.quit) << "ended by the movement";
    saver->Close();
  }
  EXPECT_EQ(ForcedKeysInFile("zersav32.ini"), std::vector<std::string>{});
  m_system.quit = false;
  auto saver = startSaver();
  Run(*saver, 20);
  EXPECT_TRUE(saver->Settings().Get(IntKey::RunSlideshow)) << "the show runs again";
  saver->Close();
}

// The names of pasted pictures come from the time; the clipboard event's
// save action then writes the same name as GIF. Files already there under
// the coming names are left alone: the next free value is taken.
TEST_F(ProgramWritesTest, PastedPicturesTakeTheNextFreeName) {
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  std::set<std::string> taken;
  for (uint32_t n = now; n < now + 6; ++n) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "%8.8lx", static_cast<unsigned long>(n));
    // Every other value by the picture's name, the rest by its copy's.
    const std::string name = std::string(stem) + ((n - now) % 2 ? ".bmp" : ".gif");
    testsupport::WriteFileBytes(m_dir / name, std::string("kept ") + name);
    taken.insert(name);
  }
  // Without files and with AutoResume the program would go to the folder it
  // was in last.
  auto window = Start({"-ClipboardEvent=3", "-AutoResume=0"});
  Run(*window, 5);
  CopyPicture(4, 4, 200);
  window->ClipboardChanged();
  Run(*window, 5);
  const std::string pasted = window->List().CurrentName(false);
  const std::string stem = std::filesystem::path(pasted).stem().string();
  EXPECT_EQ(taken.count(stem + ".bmp") + taken.count(stem + ".gif"), 0u) << pasted;
  for (const std::string& name : taken) {
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(m_dir / name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "kept " + name);
  }
  EXPECT_EQ(testsupport::PeerDecode(m_dir / (stem + ".gif")).width, 4);
  EXPECT_EQ(testsupport::PeerDecode(m_dir / (stem + ".bmp")).width, 4);
}

// A pasted picture is written under its name, so the show finds it again
// after moving on and back.
TEST_F(ProgramWritesTest, PastedPictureIsThereAfterMovingOnAndBack) {
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window, 20);
  CopyPicture(6, 5, 90);
  window->Command(window->AcceleratorCommand('V', kModifierControl));
  const std::string pasted = window->List().CurrentName(false);
  window->Command(kCmNext);
  Run(*window, 10);
  ASSERT_NE(window->List().CurrentName(false), pasted);
  window->Command(kCmPrevious);
  Run(*window, 10);
  EXPECT_EQ(window->List().CurrentName(false), pasted);
  EXPECT_NE(m_host.Title().find(" BMP File: [" + pasted + "] (6x5x24-bits"), std::string::npos) << m_host.Title();
  const testsupport::TRgbPicture written = testsupport::PeerDecode(pasted);
  EXPECT_EQ(written.width, 6);
  EXPECT_EQ(written.rgb, std::vector<uint8_t>(6 * 5 * 3, 90));
}

// Saving a sheet proposes "thumb001" and on: with 001 to 999 taken the next
// number, never a name that is there. Inside an archive the members count;
// a running show saves under the proposal without asking, and the members
// that were there stay as they were.
TEST_F(ProgramWritesTest, SheetNamesSkipWhatExistsInFoldersAndArchives) {
  m_host.clientSize = {200, 100};
  for (int n = 1; n <= 999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "thumb%3.3d.bmp", n);
    testsupport::WriteFileBytes(m_dir / name, std::string("old"));
  }
  {
    auto window =
        Start({m_dir / "a.gif", m_dir / "b.gif", "-ThumbnailsAcross=2", "-ThumbnailsDown=1", "-SaveAsIndex=2"});
    Run(*window, 20);
    window->Command(kCmShowThumbnails);
    Run(*window, 50);
    window->Command(kCmSaveAs);
    ASSERT_FALSE(m_system.proposals.empty());
    EXPECT_EQ(m_system.proposals.back(), m_dir / "thumb1000.bmp");
    window->Close();
  }

  testsupport::WriteFileBytes(m_dir / "thumb001.gif", std::string("member one"));
  testsupport::WriteFileBytes(m_dir / "thumb002.gif", std::string("member two"));
  const std::string members = "a.gif b.gif thumb001.gif thumb002.gif";
  ASSERT_EQ(testsupport::Run("cd " + m_dir.Path().string() + " && zip -q pics.zip " + members), 0);
  auto window = Start({m_dir / "pics.zip/a.gif", m_dir / "pics.zip/b.gif", "-ThumbnailsAcross=2",
                       "-ThumbnailsDown=1", "-SaveAsIndex=1"});
  Run(*window, 20);
  window->Command(kCmShowThumbnails);
  Run(*window, 50);
  window->Command(kCmRunSlideshow);
  window->Command(kCmSaveAs);
  window->Command(kCmRunSlideshow);
  const std::string zip = m_dir / "pics.zip";
  EXPECT_EQ(testsupport::RunOutput("unzip -p " + zip + " thumb001.gif"), "member one");
  EXPECT_EQ(testsupport::RunOutput("unzip -p " + zip + " thumb002.gif"), "member two");
  ASSERT_EQ(testsupport::Run("unzip -p " + zip + " thumb003.gif > " + m_dir / "sheet.gif"), 0);
  EXPECT_EQ(testsupport::PeerDecode(m_dir / "sheet.gif").width, 200) << "the sheet, under the next free name";
}

} // namespace

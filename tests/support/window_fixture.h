#pragma once
// The main window's logic under test: a window system whose dialogs,
// clipboard and text windows are scripted and recorded, and a fixture that
// starts a TZerbalinWin on a fake host in a scratch folder and runs its
// message loop by hand.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/zerbalin_win.h"
#include "platform/gst_player.h"
#include "support/fake_host.h"
#include "support/peer.h"

namespace testsupport {

class FakeSystem : public TWindowSystem {
public:
  bool ChooseFiles(const std::string& caption, const std::string&, int32_t&, std::vector<std::string>& names) override {
    captions.push_back(caption);
    names = chosenFiles;
    return !names.empty();
  }
  std::vector<std::string> chosenFiles;
  bool ChooseSaveName(const std::string& caption, const std::string&, int32_t& typeIndex, std::string& name) override {
    captions.push_back(caption);
    proposals.push_back(name);
    if (saveNames.empty()) return false;
    name = saveNames.front();
    saveNames.pop_front();
    typeIndex = saveType;
    return true;
  }
  void ShowTextWindow(TTextWindow which, const TPlacement&) override { shown[static_cast<int>(which)] = true; }
  TPlacement TextWindowPlacement(TTextWindow) override { return {100, 200, 300, 400, 0}; }
  TPlacement HideTextWindow(TTextWindow which) override {
    shown[static_cast<int>(which)] = false;
    return {100, 200, 300, 400, 0};
  }
  void RefreshTextWindow(TTextWindow, const std::string& title) override { titles.push_back(title); }
  TPlacement MainWindowPlacement() override { return {10, 20, 900, 800, 0}; }
  void Quit() override { quit = true; }
  void KeepAwake(bool on) override { awake = on; }
  void SetWindowStyle(bool fillWindow, bool) override { filled = fillWindow; }
  void ShowPageRect(const TSurface&, const TRect& rect) override { pageRects.push_back(rect); }
  int32_t CaptionHeight() override { return 10; }
  bool EditSettings(TSettingsDialog, TProfile& settings) override {
    for (const auto& [key, on] : enabledTypes) settings.Set(key, on);
    return true;
  }
  void ConfigureSaver() override {}
  bool OpenDocument(const std::string& path) override {
    openedDocuments.push_back(path);
    return true;
  }
  std::vector<std::string> openedDocuments;
  std::vector<std::pair<IntKey, int32_t>> enabledTypes;
  void DrawCaption(const TSurface&, int32_t, int32_t, const std::string& text, uint32_t, uint32_t) override {
    drawnCaptions.push_back(text);
  }
  std::vector<std::string> drawnCaptions;
  std::vector<TRect> pageRects;
  bool ClipboardHasImage() override { return clipboardImage.has_value(); }
  bool ClipboardHasText() override { return !clipboardText.empty(); }
  std::unique_ptr<TDib> ClipboardImage() override {
    return clipboardImage ? std::make_unique<TDib>(*clipboardImage) : nullptr;
  }
  std::string ClipboardText() override { return clipboardText; }
  bool PutClipboardImage(const TDib& dib) override {
    clipboardImage = dib;
    return true;
  }
  bool PutClipboardText(const std::string& text) override {
    clipboardText = text;
    return true;
  }
  void EmptyClipboard() override {
    clipboardImage.reset();
    clipboardText.clear();
  }
  std::optional<TDib> clipboardImage;
  std::string clipboardText;
  void DiscardPendingInput() override {}
  void ShowPointer() override {}
  bool EditText(const std::string&, std::string& text) override {
    if (editedText.empty()) return false;
    text = editedText;
    return true;
  }
  bool AskPasswordText(std::string&) override { return false; }
  // The program's own player, with sinks that discard sound and picture.
  std::unique_ptr<TMediaPlayer> NewMediaPlayer(const std::string&, std::string& error) override {
    return NewGstPlayer(0, error);
  }
  std::string editedText;

  std::deque<std::string> saveNames;
  int32_t saveType = 5;
  std::vector<std::string> captions;
  std::vector<std::string> proposals;
  std::vector<std::string> titles;
  bool shown[2] = {false, false};
  bool quit = false;
  bool awake = false;
  bool filled = false;
};

class ZerbalinWinTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("ZERBALIN_HOME", (m_dir / "home").c_str(), 1);
    // The wallpaper the tests save must not reach the desktop of whoever
    // runs them.
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    setenv("ZERBALIN_MEDIA_SINK", "fake", 1);
    std::filesystem::create_directories(m_dir / "home");
    ASSERT_EQ(testsupport::Run("convert -size 64x48 gradient:red-blue " + m_dir / "a.gif"), 0);
    ASSERT_EQ(testsupport::Run("convert -size 30x20 xc:green " + m_dir / "b.gif"), 0);
  }
  void TearDown() override { unsetenv("ZERBALIN_HOME"); }

  std::unique_ptr<TZerbalinWin> Start(std::vector<std::string> words) {
    m_words = std::move(words);
    std::vector<const char*> argv{"zerbalin"};
    for (const std::string& word : m_words) argv.push_back(word.c_str());
    auto window = std::make_unique<TZerbalinWin>(m_host, m_system, StartMode::Viewer, "zerbalin",
                                                 ParseArguments(static_cast<int>(argv.size()), argv.data()));
    window->Start();
    return window;
  }

  // Runs posted commands, and the idle step whenever none waits, as the
  // message loop does, until the window asks to quit or steps run out.
  void Run(TZerbalinWin& window, int steps = 400) {
    for (int i = 0; i < steps && !m_system.quit; ++i) {
      if (const int command = m_host.TakeCommand())
        window.Command(command);
      else
        window.Idle();
    }
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(m_dir / name); }

  TTempDir m_dir;
  FakeHost m_host;
  FakeSystem m_system;
  std::vector<std::string> m_words;
};

} // namespace testsupport

// Sound and movie playback: the command strings sent and logged, the
// interpreter's answers, temporary copies, loops, notifications and the
// volume, over players that only record what they are asked; and the
// GStreamer player on real files.
#include "view/media.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/log_sink.h"
#include "filepkg/pkg_test_support.h"
#include "platform/gst_player.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

// What the fake players were asked, one line per call, shared by all of them.
struct TJournal {
  std::vector<std::string> calls;
  std::vector<std::string> openedPaths;
  bool ended = false; // the next TakeEnd reports the end of the file
  double volume = -1;
};

class FakePlayer : public TMediaPlayer {
public:
  explicit FakePlayer(TJournal& journal) : m_journal(journal) {}
  bool Open(const std::string& path, std::string&) override {
    m_journal.calls.push_back("open");
    m_journal.openedPaths.push_back(path);
    return true;
  }
  bool Play(std::string&) override { return m_journal.calls.push_back("play"), true; }
  bool Rewind(std::string&) override { return m_journal.calls.push_back("rewind"), true; }
  bool WaitForEnd(std::string&) override { return m_journal.calls.push_back("wait"), true; }
  std::optional<bool> TakeEnd(std::string&) override {
    if (!m_journal.ended) return std::nullopt;
    m_journal.ended = false;
    return true;
  }
  void SetVolume(double level) override { m_journal.volume = level; }

private:
  TJournal& m_journal;
};

class Media : public testing::Test {
protected:
  void SetUp() override {
    ClearLoggedMessages();
    setenv("TMPDIR", m_dir.Path().c_str(), 1);
    WriteFile(m_dir / "s.wav", "RIFF");
    WriteFile(m_dir / "s.au", ".snd");
  }
  void TearDown() override { unsetenv("TMPDIR"); }

  std::vector<std::string> MciLines() {
    std::vector<std::string> lines;
    for (const std::string& line : LoggedMessages())
      if (line.rfind("MCI: ", 0) == 0 || line.rfind("err: ", 0) == 0) lines.push_back(line);
    ClearLoggedMessages();
    return lines;
  }
  // The end of the playing file arrives, as the window's polling sees it.
  void EndOfFile() {
    m_journal.ended = true;
    m_mci.Poll();
    m_media.Notified();
  }

  TTempDir m_dir;
  TJournal m_journal;
  int m_posted = 0;
  int m_logShown = 0;
  TProfile m_settings;
  TMciInterpreter m_mci{[this](const std::string&) { return std::make_unique<FakePlayer>(m_journal); },
                        [this] { ++m_posted; }};
  TMedia m_media{m_settings, m_mci, {nullptr, [this] { ++m_logShown; }, nullptr}};
};

TEST(MediaTemplate, FillsArgumentsInOrderAndNothingElse) {
  struct TCase {
    const char* format;
    std::initializer_list<std::string> arguments;
    const char* expected;
  };
  const TCase cases[] = {
      {"open \"%s\" type %s alias sound", {"/a b/s.wav", "waveaudio"}, "open \"/a b/s.wav\" type waveaudio alias sound"},
      {"play sound %s", {"notify"}, "play sound notify"},
      {"%s and %s", {"one"}, "one and "},
      {"100%% %d %n %s%", {"%s"}, "100% %d %n %s%"},
  };
  for (const TCase& c : cases) EXPECT_EQ(FillTemplate(c.format, c.arguments), c.expected) << c.format;
}

TEST(MediaDeviceTypes, SystemTableThenFallbackThenUnknown) {
  const std::pair<const char*, const char*> cases[] = {
      {"wav", "waveaudio"},  {"WAV", "waveaudio"},  {"avi", "avivideo"},
      {"mid", "sequencer"},  {"fli", "animation1"}, {"mmm", "mmmovie"},
      {"mp3", "waveaudio"},  {"xyz", "unknown_mci_driver"}, {"", "unknown_mci_driver"},
  };
  for (const auto& [extension, type] : cases) EXPECT_EQ(MediaDeviceType(extension), type) << extension;
}

TEST_F(Media, AsynchronousSoundPlaysUntilItsNotificationClosesIt) {
  m_media.PlaySound(m_dir / "s.wav");
  EXPECT_TRUE(m_media.Playing(TMediaKind::Sound));
  EXPECT_EQ(MciLines(), (std::vector<std::string>{"MCI: open \"" + m_dir / "s.wav" + "\" type waveaudio alias sound",
                                                  "MCI: play sound notify"}));
  m_mci.Poll();
  EXPECT_EQ(m_posted, 0);

  m_journal.ended = true;
  m_mci.Poll();
  EXPECT_EQ(m_posted, 1);
  EXPECT_TRUE(m_media.Playing(TMediaKind::Sound)) << "nothing happens before the posted message runs";
  m_media.Notified();
  EXPECT_FALSE(m_media.Playing(TMediaKind::Sound));
  EXPECT_EQ(MciLines(), std::vector<std::string>{"MCI: close sound"});
}

// The end of a play that began asynchronously closes it even when
// synchronous play was chosen while it played.
TEST_F(Media, AsynchronousPlayEndsWhenSynchronousWasChosenMeanwhile) {
  m_media.PlaySound(m_dir / "s.wav");
  m_settings.Set(IntKey::SoundSynchronous, 1);
  MciLines();
  EndOfFile();
  EXPECT_FALSE(m_media.Playing(TMediaKind::Sound));
  EXPECT_EQ(MciLines(), std::vector<std::string>{"MCI: close sound"});
}

// A name goes into a command with each '"' written twice; the interpreter
// reads it back as the name, spaces and quotes and all.
TEST_F(Media, QuotedNamesReachThePlayerAsTheyAre) {
  for (const std::string name : {"plain.wav", "a b.wav", "say \"cheese\".wav", "\"lead.wav", "end\"", "two\"\"in.wav"}) {
    std::string error;
    EXPECT_TRUE(m_mci.Send(FillTemplate("open \"%s\" type waveaudio alias q", {MciQuoted(name)}), error)) << error;
    EXPECT_EQ(m_journal.openedPaths.back(), name);
    EXPECT_TRUE(m_mci.Send("close q", error)) << name;
  }
  const std::string path = m_dir / "say \"cheese\".wav";
  WriteFile(path, "RIFF");
  m_media.PlaySound(path);
  EXPECT_EQ(m_journal.openedPaths.back(), path);
}

TEST_F(Media, LoopingSoundRestartsFromItsStartUntilStopped) {
  m_settings.Set(IntKey::SoundLoop, 1);
  m_media.PlaySound(m_dir / "s.wav");
  MciLines();
  for (int round = 0; round < 2; ++round) {
    EndOfFile();
    EXPECT_TRUE(m_media.Playing(TMediaKind::Sound));
    EXPECT_EQ(MciLines(), (std::vector<std::string>{"MCI: seek sound to start wait", "MCI: play sound notify"}));
  }
  m_media.Stop(TMediaKind::Sound);
  EXPECT_EQ(MciLines(), std::vector<std::string>{"MCI: close sound"});
  // Closing a play that waits for its notification aborts it; the abort
  // finds nothing playing.
  m_media.Notified();
  EXPECT_TRUE(MciLines().empty());
  EXPECT_EQ(m_journal.calls,
            (std::vector<std::string>{"open", "play", "rewind", "play", "rewind", "play"}));
}

// The sound's commands may name its device differently, even with a part of
// the movie's commands; its end still reaches the sound, and only the sound.
TEST_F(Media, EndReachesTheKindWhoseCommandsNamedTheDevice) {
  m_settings.SetString(StrKey::WAVOpenCommand, "open \"%s\" type %s alias al");
  m_settings.SetString(StrKey::WAVPlayCommand, "play al %s");
  m_settings.SetString(StrKey::WAVCloseCommand, "close al");
  WriteFile(m_dir / "m.avi", "RIFF");
  m_media.PlaySound(m_dir / "s.wav");
  m_media.PlayMovie(m_dir / "m.avi");
  MciLines();
  EndOfFile(); // the fake players share one end: the first polled, "al", takes it
  EXPECT_FALSE(m_media.Playing(TMediaKind::Sound));
  EXPECT_TRUE(m_media.Playing(TMediaKind::Movie));
  EXPECT_EQ(MciLines(), std::vector<std::string>{"MCI: close al"});
}

TEST_F(Media, SynchronousPlayWaitsThenCloses) {
  m_settings.Set(IntKey::SoundSynchronous, 1);
  m_media.PlaySound(m_dir / "s.au");
  EXPECT_FALSE(m_media.Playing(TMediaKind::Sound));
  EXPECT_EQ(MciLines(), (std::vector<std::string>{"MCI: open \"" + m_dir / "s.au" + "\" type waveaudio alias sound",
                                                  "MCI: play sound wait", "MCI: close sound"}));
  // A synchronous wave file is played to its end without the commands.
  m_media.PlaySound(m_dir / "s.wav");
  EXPECT_TRUE(MciLines().empty());
  EXPECT_EQ(m_journal.calls, (std::vector<std::string>{"open", "play", "wait", "open", "play", "wait"}));
}

TEST_F(Media, ScriptSkipsRemarksAndStopsAtTheFirstFailure) {
  WriteFile(m_dir / "s.mci", "# a remark\r\n!bang\n/slash\n\n\x01open \"" + m_dir / "s.wav" +
                                 "\" type waveaudio alias sound" + std::string(1, '\0') +
                                 "play sound notify\nbogus sound\nplay sound\n");
  m_media.PlaySound(m_dir / "s.mci");
  EXPECT_EQ(MciLines(), (std::vector<std::string>{
                            "MCI: # a remark", "MCI: !bang", "MCI: /slash",
                            "MCI: open \"" + m_dir / "s.wav" + "\" type waveaudio alias sound",
                            "MCI: play sound notify", "MCI: bogus sound",
                            "err: The specified command was not recognized.", "MCI: close sound"}));
  EXPECT_FALSE(m_media.Playing(TMediaKind::Sound));
}

TEST_F(Media, FailedOpenShowsTheLogAndTheHint) {
  WriteFile(m_dir / "m.xyz", "data");
  m_media.PlayMovie(m_dir / "m.xyz");
  EXPECT_FALSE(m_media.Playing(TMediaKind::Movie));
  EXPECT_EQ(m_logShown, 1);
  const std::vector<std::string> log = LoggedMessages();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "MCI: open \"" + m_dir / "m.xyz" + "\" type unknown_mci_driver alias movie");
  EXPECT_EQ(log[1], "err: The specified device is not installed on the system.");
  EXPECT_EQ(log[2], "Press F1 and choose <MCI Drivers> for help.");
  EXPECT_TRUE(m_journal.calls.empty());
}

TEST_F(Media, ArchiveMemberPlaysFromATemporaryCopyRemovedAtTheEnd) {
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "' && zip -q sounds.zip s.wav && rm s.wav"), 0);
  m_media.PlaySound(m_dir / "sounds.zip/s.wav");
  const std::string copy = m_media.TemporaryCopy(TMediaKind::Sound);
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(m_journal.openedPaths, std::vector<std::string>{copy});
  EXPECT_EQ(ReadFile(copy), std::vector<uint8_t>({'R', 'I', 'F', 'F'}));
  EndOfFile();
  EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(Media, LouderAndSofterStopAtTheEndsOfEachChannel) {
  m_mci.SetVolume(0x0000F000);
  m_media.Louder();
  EXPECT_EQ(m_mci.Volume(), 0x1000FFFFu);
  m_mci.SetVolume(0x2000'0FFF);
  m_media.Softer();
  EXPECT_EQ(m_mci.Volume(), 0x1000'0000u);
  m_media.PlaySound(m_dir / "s.wav");
  EXPECT_DOUBLE_EQ(m_journal.volume, 0x1000 / (2.0 * 65535.0));
}

TEST_F(Media, NewPlaySupersedesTheWaitingNotification) {
  std::string error;
  ASSERT_TRUE(m_mci.Send("open \"" + m_dir / "s.wav" + "\" alias a", error));
  ASSERT_TRUE(m_mci.Send("play a notify", error));
  ASSERT_TRUE(m_mci.Send("play a notify", error));
  EXPECT_FALSE(m_mci.Send("open \"" + m_dir / "s.au" + "\" alias a", error));
  EXPECT_EQ(error, "The specified alias is already being used in this application.");
  EXPECT_FALSE(m_mci.Send("seek b to start", error));
  const auto notifications = m_mci.TakeNotifications();
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0].result, TNotifyResult::Superseded);
  EXPECT_TRUE(m_mci.Send("close all", error));
  EXPECT_EQ(m_mci.TakeNotifications().front().result, TNotifyResult::Aborted);
}

// The program's own player on files made by GStreamer's tools, with sinks
// that need neither a sound card nor a screen.
TEST(GstPlayer, PlaysRealFilesToTheirEndAndRefusesBrokenOnes) {
  setenv("ZERBALIN_MEDIA_SINK", "fake", 1);
  TTempDir dir;
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(dir / "s.wav", dir / "m.avi"));
  WriteFile(dir / "broken.wav", "RIFF and nothing else");
  for (const char* name : {"s.wav", "m.avi"}) {
    std::string error;
    std::unique_ptr<TMediaPlayer> player = NewGstPlayer(0, error);
    ASSERT_TRUE(player) << error;
    ASSERT_TRUE(player->Open(dir / name, error)) << error;
    ASSERT_TRUE(player->Play(error)) << error;
    std::optional<bool> end;
    while (!(end = player->TakeEnd(error))) usleep(1000);
    EXPECT_TRUE(*end) << name << ": " << error;
    // Played again from its start, it ends again.
    ASSERT_TRUE(player->Rewind(error)) << error;
    ASSERT_TRUE(player->Play(error)) << error;
    EXPECT_TRUE(player->WaitForEnd(error)) << name << ": " << error;
  }
  std::string error;
  std::unique_ptr<TMediaPlayer> player = NewGstPlayer(0, error);
  ASSERT_TRUE(player);
  EXPECT_FALSE(player->Open(dir / "broken.wav", error));
  EXPECT_FALSE(error.empty());
}

} // namespace

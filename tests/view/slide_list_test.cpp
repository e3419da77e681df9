// The active file list over real temporary folders: sorting as names go in,
// lazy expansion of folders, patterns and containers, the random ring, and
// the questions the engine asks.
#include "view/slide_list.h"

#include <sys/stat.h>
#include <utime.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/busy.h"
#include "filepkg/pkg_test_support.h"
#include "settings/profile.h"
#include "support/fake_host.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

class SlideList : public testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"page10.gif", "Page2.gif", "page1.gif", "b.jpg", "notes.txt", "song.wav"})
      WriteFile(m_dir / name, "x");
    mkdir((m_dir / "sub").c_str(), 0777);
    WriteFile(m_dir / "sub/deep.gif", "x");
  }
  // The names from the current entry on, once round the ring.
  std::vector<std::string> Walk(TSlideList& list, TSlideLink link) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) {
      names.push_back(list.CurrentName(true).substr(m_dir.Path().size() + 1));
      list.Step(link, 1);
    }
    return names;
  }

  TProfile m_settings;
  TTempDir m_dir;
};

TEST_F(SlideList, NamesGoInSortedWithDigitRunsByValueAndDuplicatesOnce) {
  TSlideList list(m_settings);
  for (const char* name : {"page10.gif", "Page2.gif", "page1.gif", "page2.gif"}) list.Add(m_dir / name, 8, false, false, true);
  EXPECT_EQ(list.Count(), 3) << "a name already there adds nothing";
  EXPECT_EQ(list.Current(), list.Head());
  EXPECT_EQ(Walk(list, kSortedNext), (std::vector<std::string>{"page1.gif", "Page2.gif", "page10.gif"}));
  EXPECT_EQ(list.CurrentName(false), m_dir / "page1.gif") << "Next on the last entry wraps to the first";
}

TEST_F(SlideList, NewestFirstFallsBackToNamesOnEqualTimes) {
  m_settings.Set(IntKey::SortType, 1);
  const struct {
    const char* name;
    time_t time;
  } files[] = {{"page1.gif", 1000000000}, {"page10.gif", 1200000000}, {"Page2.gif", 1000000000}};
  for (const auto& file : files) {
    utimbuf times{file.time, file.time};
    utime((m_dir / file.name).c_str(), &times);
  }
  TSlideList list(m_settings);
  for (const auto& file : files) list.Add(m_dir / file.name, 8, false, false, true);
  EXPECT_EQ(Walk(list, kSortedNext), (std::vector<std::string>{"page10.gif", "page1.gif", "Page2.gif"}));
}

TEST_F(SlideList, FoldersPatternsAndSubfoldersExpandWhenReached) {
  TSlideList list(m_settings);
  list.Add(m_dir.Path() + "/", 8, false, false, false);
  EXPECT_EQ(list.Count(), 1) << "nothing is listed before the list reaches it";
  EXPECT_EQ(Walk(list, kSortedNext), (std::vector<std::string>{"b.jpg", "page1.gif", "Page2.gif", "page10.gif"}));

  TSlideList deep(m_settings);
  deep.Add(m_dir.Path() + "/...", 1, false, false, false);
  std::vector<std::string> names = Walk(deep, kSortedNext);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"page1.gif", "Page2.gif", "page10.gif", "sub/deep.gif"}));

  TSlideList pattern(m_settings);
  pattern.Add(m_dir / "page1*", 15, false, false, false);
  EXPECT_EQ(Walk(pattern, kSortedNext), (std::vector<std::string>{"page1.gif", "page10.gif"}))
      << "the pattern itself goes once listed";
}

TEST_F(SlideList, OneFileWithItsFolderKeepsItsPlace) {
  TSlideList list(m_settings);
  list.Add(m_dir / "Page2.gif", 8, true, false, true);
  EXPECT_EQ(list.CurrentName(true), m_dir / "Page2.gif");
  list.Step(kSortedNext, 1);
  EXPECT_EQ(list.CurrentName(false), m_dir / "page10.gif");
  list.Step(kSortedPrev, 2);
  EXPECT_EQ(list.CurrentName(false), m_dir / "page1.gif");
  EXPECT_EQ(list.Count(), 4) << "the given file and the other pictures of its folder";
}

TEST_F(SlideList, TheRandomRingVisitsEveryEntryOnceAndPreviousGoesBackAlongIt) {
  TSlideList list(m_settings);
  list.SeedRandom(7);
  for (int i = 0; i < 20; ++i) WriteFile(m_dir / ("r" + std::to_string(i) + ".gif"), "x");
  list.Add(m_dir.Path() + "/", 1, false, false, false);
  list.Step(kSortedNext, 1);
  const std::vector<std::string> round = Walk(list, kRandomNext);
  EXPECT_EQ(std::set<std::string>(round.begin(), round.end()).size(), round.size()) << "each entry once";
  EXPECT_EQ(Walk(list, kRandomNext), round) << "the permutation is fixed";
  const std::string here = list.CurrentName(false);
  list.Step(kRandomNext, 3);
  list.Step(kRandomPrev, 3);
  EXPECT_EQ(list.CurrentName(false), here);
}

TEST_F(SlideList, ContainersAndSlideListsExpandOneLevelDeeper) {
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "' && zip -q pics.zip page1.gif b.jpg sub/deep.gif"), 0);
  WriteFile(m_dir / "show.sli", "b.jpg\n\n" + (m_dir / "page10.gif") + "\nshow.sli\n" + (m_dir / "show.sli") + "\n");
  TSlideList list(m_settings);
  list.Add(m_dir / "pics.zip", 8, false, false, false);
  EXPECT_EQ(Walk(list, kSortedNext),
            (std::vector<std::string>{"pics.zip/b.jpg", "pics.zip/page1.gif", "pics.zip/sub/deep.gif"}));
  list.Clear();
  list.Add(m_dir / "show.sli", 8, false, false, false);
  list.CurrentName(true);
  EXPECT_EQ(list.CurrentName(false), "b.jpg") << "lines as written, in their order";
  list.Step(kSortedNext, 1);
  EXPECT_EQ(list.CurrentName(false), m_dir / "page10.gif");
  EXPECT_EQ(list.Count(), 3) << "the list does not add itself";
}

TEST_F(SlideList, NamesCaptionsTypesAndPlaces) {
  TSlideList list(m_settings);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_TRUE(list.IsLast());
  EXPECT_EQ(list.CurrentName(true), "No File");
  EXPECT_EQ(list.Caption(0), "No File");
  list.Add(m_dir.Path() + "/", 13, false, false, false);
  list.CurrentName(true);
  EXPECT_EQ(list.Count(), 5) << "every type the program reads, not the text file";
  EXPECT_TRUE(list.SelectByName("page10"));
  EXPECT_EQ(list.CurrentName(false), m_dir / "page10.gif");
  EXPECT_TRUE(list.SelectByName("SONG.WAV"));
  EXPECT_TRUE(list.IsSound(list.CurrentName(false)));
  EXPECT_TRUE(list.IsLast());
  EXPECT_EQ(list.Caption(0), "song.wav");
  EXPECT_EQ(list.Caption(12), ".../song.wav");
  EXPECT_FALSE(list.SelectByName("missing.gif"));

  EXPECT_EQ(list.FileTypeFilter(5), "*.jpg;*.jpe;*.cam;*.sfw;*.pmp;*.pwp;*.j6i;*.kqp");
  EXPECT_EQ(list.FileTypeFilter(7), "*.wmf;*.png;*.webp;*.heic;*.heif;*.avif");
  EXPECT_EQ(list.FileTypeFilter(15), "*");
  EXPECT_STREQ(TSlideList::FileTypeLabel(13), "Zerbalin Files");

  list.RecordPlacement({10, 10, 50, 50}, 100);
  list.Step(kSortedNext, 1);
  list.RecordPlacement({0, 0, 20, 20}, 200);
  EXPECT_TRUE(list.HitTest(15, 15));
  EXPECT_EQ(list.Current(), list.Head()) << "the entry drawn last at the point";
  EXPECT_TRUE(list.HitTest(40, 40));
  EXPECT_EQ(list.CurrentName(false), m_dir / "song.wav");
  list.ClearPlacements();
  EXPECT_FALSE(list.HitTest(15, 15));
}

TEST_F(SlideList, VanishedFoldersAndLongNamesLeaveTheListSound) {
  TSlideList list(m_settings);
  list.Add(m_dir / "gone/", 8, false, false, false);
  list.Add(m_dir / "gone/*.gif", 8, false, false, false);
  list.Add(std::string(600, 'x'), 8, false, false, false);
  list.Add(m_dir / "page1.gif", 8, false, false, false);
  std::set<std::string> seen;
  for (int i = 0; i < 10; ++i) {
    seen.insert(list.CurrentName(true));
    list.Step(kSortedNext, 1);
  }
  // A folder that cannot be listed stays as a plain name; a pattern that
  // lists nothing goes; a name too long for the package never went in.
  EXPECT_EQ(seen, (std::set<std::string>{m_dir / "gone/", m_dir / "page1.gif"}));
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(SlideList, AStopDuringExpansionLeavesBothRingsWhole) {
  for (int i = 0; i < 40; ++i) WriteFile(m_dir / ("s" + std::to_string(i) + ".gif"), "x");
  testsupport::FakeHost host;
  BusyAttach(&host);
  for (int i = 0; i < 10; ++i) host.QueueMessage([] {});
  host.QueueMessage([] { BusyCheck(); }); // a command arriving meanwhile stops the expansion
  TSlideList list(m_settings);
  list.Add(m_dir.Path() + "/", 15, false, false, false);
  list.CurrentName(true);
  BusyAttach(nullptr);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_LT(list.Count(), 46) << "stopped before the folder was read through";
  for (TSlideLink link : {kSortedNext, kSortedPrev, kRandomNext, kRandomPrev}) {
    std::set<TSlideEntry*> seen;
    TSlideEntry* entry = list.Current();
    for (int32_t i = 0; i < list.Count(); ++i, entry = entry->links[link]) seen.insert(entry);
    EXPECT_EQ(entry, list.Current()) << "ring " << link << " closes after Count entries";
    EXPECT_EQ(seen.size(), static_cast<size_t>(list.Count())) << "ring " << link;
  }
}

} // namespace

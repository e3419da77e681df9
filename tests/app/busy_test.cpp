#include "app/busy.h"

#include <gtest/gtest.h>

#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "support/fake_host.h"

namespace {

using testsupport::FakeHost;

class Busy : public ::testing::Test {
protected:
  void SetUp() override {
    host.title = "Zerbalin - a.gif";
    BusyAttach(&host);
    BusyConfigure(true, true);
  }
  void TearDown() override {
    SetProgressHook(nullptr);
    BusyEnd();
    BusyAttach(nullptr);
  }
  FakeHost host;
};

TEST_F(Busy, TitleShowsThePercentageFromTheSecondReportAndIsRestored) {
  BusyBegin();
  EXPECT_EQ(BusyProgress(0), 0); // equals the last percentage: nothing happens
  EXPECT_TRUE(host.titles.empty());
  EXPECT_EQ(BusyProgress(10), 0); // remembers the title only
  EXPECT_TRUE(host.titles.empty());
  EXPECT_EQ(BusyProgress(20), 0);
  EXPECT_EQ(BusyProgress(-1), 0);
  EXPECT_EQ(BusyProgress(20), 0);
  BusyEnd();
  EXPECT_EQ(host.titles, (std::vector<std::string>{"Zerbalin - a.gif (20%)", "Zerbalin - a.gif"}));
  EXPECT_EQ(host.pointerPercents, (std::vector<int>{0, 10, 20, -1, 20}));
  EXPECT_EQ(host.pumps, 5);
}

TEST_F(Busy, SettingsOffLeaveTitleAndPointerAlone) {
  BusyConfigure(false, false);
  BusyBegin();
  for (int percent : {0, 10, 20, 30}) BusyProgress(percent);
  BusyEnd();
  EXPECT_TRUE(host.titles.empty());
  EXPECT_TRUE(host.pointerPercents.empty());
}

TEST_F(Busy, NotActiveReturnsAtOnceWithoutPumping) {
  host.QueueMessage([] {});
  EXPECT_EQ(BusyProgress(50), 0);
  EXPECT_EQ(host.pumps, 0);
  EXPECT_FALSE(BusyCheck());
  BusyEnd(); // does nothing when idle
  EXPECT_TRUE(host.titles.empty());
}

TEST_F(Busy, ACommandArrivingDuringALoadStopsItAndIsDropped) {
  bool carriedOut = false;
  auto commandHandler = [&] {
    if (BusyCheck()) return; // the busy check of every handler
    carriedOut = true;
  };
  BusyBegin();
  host.QueueMessage([] {});
  host.QueueMessage(commandHandler);
  host.QueueMessage([] {});
  EXPECT_EQ(BusyProgress(30), 1);
  EXPECT_EQ(host.messages.size(), 1u) << "the pump stops as soon as a stop is requested";
  EXPECT_EQ(BusyProgress(40), 1);
  BusyEnd();
  EXPECT_FALSE(carriedOut);
  EXPECT_FALSE(BusyIsActive());
  commandHandler();
  EXPECT_TRUE(carriedOut);
}

TEST_F(Busy, QuitDuringAnOperationStopsIt) {
  BusyBegin();
  host.QueueQuit();
  host.QueueMessage([] {});
  EXPECT_EQ(BusyProgress(-1), 1);
  EXPECT_TRUE(host.quitPosted);
  int pumps = host.pumps;
  EXPECT_EQ(BusyProgress(-1), 1);
  EXPECT_EQ(host.pumps, pumps);
  BusyBegin(); // a new operation starts without the stop request
  EXPECT_EQ(BusyProgress(-1), 0);
}

// Nothing stops a part that must not be cut short: neither a command's busy
// check, nor a quit (which waits in the queue), nor a stop asked for before
// the part began; that stop reaches the operation after the part.
TEST_F(Busy, AnUnstoppablePartRunsToItsEnd) {
  BusyBegin();
  BusyCancel();
  {
    TBusyUnstoppableScope writing;
    EXPECT_FALSE(BusyIsStoppable());
    host.QueueMessage([] { EXPECT_TRUE(BusyCheck()); });
    host.QueueQuit();
    host.QueueMessage([] {});
    EXPECT_EQ(BusyProgress(10), 0);
    EXPECT_TRUE(host.quitPosted);
    EXPECT_EQ(host.messages.size(), 1u) << "the pump ends at the quit";
    EXPECT_EQ(BusyProgress(20), 0);
  }
  EXPECT_TRUE(BusyIsStoppable());
  EXPECT_EQ(BusyProgress(30), 1);
  BusyEnd();
  {
    TBusyUnstoppableScope writing;
    EXPECT_TRUE(BusyIsActive()) << "begun by the scope";
  }
  EXPECT_FALSE(BusyIsActive());
}

TEST_F(Busy, CodecsReachTheServiceThroughTheProgressHook) {
  SetProgressHook(&BusyProgressHook());
  ProgressBegin();
  EXPECT_TRUE(BusyIsActive());
  ProgressReport(10);
  ProgressReport(20);
  EXPECT_EQ(host.title, "Zerbalin - a.gif (20%)");
  BusyCancel();
  EXPECT_EQ(ProgressReport(30), 1);
  ProgressEnd();
  EXPECT_FALSE(BusyIsActive());
  EXPECT_EQ(host.title, "Zerbalin - a.gif");

  BusyBegin();     // the file list expands ...
  ProgressBegin(); // ... and loads a picture inside
  ProgressReport(50);
  ProgressEnd();
  EXPECT_TRUE(BusyIsActive());
  BusyEnd();
  ProgressEnd(); // unbalanced ends are ignored
  EXPECT_FALSE(BusyIsActive());
}

TEST_F(Busy, AbortProcPumpsAndReportsTheStopRequest) {
  {
    TBusyAbortScope scope;
    EXPECT_EQ(PkgGetPtr("AbortProc"), reinterpret_cast<const void*>(&BusyAbortProc));
    BusyBegin();
    EXPECT_EQ(PkgAbortRequested(), 0);
    BusyCancel();
    EXPECT_EQ(PkgAbortRequested(), -1);
    BusyEnd();
  }
  EXPECT_EQ(PkgGetPtr("AbortProc"), nullptr);
  EXPECT_TRUE(host.titles.empty()) << "keeping alive never touches the title";
}

TEST_F(Busy, ALoadInsideTheListExpansionLeavesTheExpansionStoppable) {
  {
    TBusyAbortScope expansion;
    { TBusyAbortScope load; }
    EXPECT_EQ(PkgGetPtr("AbortProc"), reinterpret_cast<const void*>(&BusyAbortProc));
    BusyBegin();
    BusyCancel();
    EXPECT_EQ(PkgAbortRequested(), -1);
    BusyEnd();
  }
  EXPECT_EQ(PkgGetPtr("AbortProc"), nullptr);
}

} // namespace

#pragma once
// A fixture for the tests of the JPEG and TIFF adapters, which read files
// that peer tools make from one source picture: the picture is made once per
// suite in a scratch directory that the suite's files share, and every test
// starts with an empty log and an empty comment.
#include <gtest/gtest.h>

#include <string>

#include "core/log_sink.h"
#include "formats/comment_sink.h"
#include "support/peer.h"

namespace peerfiles {

// Suite is the fixture deriving from this one; its static member
// kSourceCommand is the command that makes the source picture when given
// the picture's path (a PPM file) as its last word.
template <class Suite>
class TPeerFilesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    s_dir = new testsupport::TTempDir;
    ASSERT_EQ(testsupport::Run(std::string(Suite::kSourceCommand) + " " + Source()), 0);
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override {
    ClearLoggedMessages();
    CommentChar(0);
  }
  static std::string Source() { return *s_dir / "source.ppm"; }
  // Runs command with IN replaced by the source picture and OUT by a new
  // file of the given name; returns the new file's path.
  static std::string Make(const std::string& name, std::string command) {
    // One pass from left to right, so that the paths put in (random
    // folder names may hold "IN" or "OUT") are never searched again.
    const std::string out = *s_dir / name;
    std::string filled;
    for (size_t at = 0; at < command.size();) {
      if (command.compare(at, 2, "IN") == 0) {
        filled += Source();
        at += 2;
      } else if (command.compare(at, 3, "OUT") == 0) {
        filled += out;
        at += 3;
      } else {
        filled += command[at++];
      }
    }
    EXPECT_EQ(testsupport::Run(filled + " 2>/dev/null"), 0) << filled;
    return out;
  }

  static inline testsupport::TTempDir* s_dir = nullptr;
};

} // namespace peerfiles

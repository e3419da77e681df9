#include "app/text_model.h"

#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "core/log_sink.h"
#include "support/fake_host.h"

namespace {

void Feed(TZerbalinTxt& text, const std::string& characters) {
  for (char c : characters) text.AddChar(c);
}

TEST(TextModel, CommentBreaksAndWraps) {
  struct Case {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"CR LF is one break", "a\r\nb", "a\r\nb\r\n"},
      {"LF CR is two", "a\n\rb", "a\r\n\r\nb\r\n"},
      {"lone LF breaks", "a\nb", "a\r\nb\r\n"},
      {"tab to the next multiple of 8", "ab\tc\t\td", "ab      c               d\r\n"},
      {"a tab pads at most to column 132", std::string(130, 'x') + "\ty",
       std::string(130, 'x') + "  \r\ny\r\n"},
      {"control characters dropped", "a\x01\x1b" "b", "ab\r\n"},
      {"bytes above 127 kept", "\xe9t\xe9", "\xe9t\xe9\r\n"},
      {"200 characters without spaces break after 132", std::string(200, 'x'),
       std::string(132, 'x') + "\r\n" + std::string(68, 'x') + "\r\n"},
      {"a space after column 99 breaks", std::string(99, 'x') + " y " + std::string(40, 'z'),
       std::string(99, 'x') + " y\r\n" + std::string(40, 'z') + "\r\n"},
      {"character 0 clears", std::string("old\r\nlines\0new", 14), "new\r\n"},
      {"a full line and CR LF: one break", std::string(132, 'x') + "\r\ny", std::string(132, 'x') + "\r\ny\r\n"},
      {"a full line and LF: one break", std::string(132, 'x') + "\ny", std::string(132, 'x') + "\r\ny\r\n"},
      {"a full line and CR: one break", std::string(132, 'x') + "\ry", std::string(132, 'x') + "\r\ny\r\n"},
      {"a full line and LF CR: two breaks", std::string(132, 'x') + "\n\ry",
       std::string(132, 'x') + "\r\n\r\ny\r\n"},
      {"a full line and a space: the space starts the next line", std::string(132, 'x') + " y",
       std::string(132, 'x') + "\r\n y\r\n"},
  };
  for (const Case& c : cases) {
    TZerbalinTxt text(TZerbalinTxt::Mode::Fixed);
    for (char ch : c.input) text.AddChar(static_cast<unsigned char>(ch));
    EXPECT_EQ(text.GetText(), c.expected) << c.what;
  }
}

// Edit comments feeds the text it was given back in: whatever the lines
// were, an OK without a change leaves them as they are.
TEST(TextModel, ItsOwnTextFedBackGivesTheSameLines) {
  std::string hundredFifty;
  for (int i = 0; i < 150; ++i) hundredFifty += "line" + std::to_string(i) + "\r\n";
  const std::string cases[] = {
      std::string(132, 'x') + "\r\ny",
      std::string(132, 'x') + "\r\n" + std::string(132, 'y') + "\r\n\r\nz",
      std::string(300, 'x'),
      std::string(99, 'x') + " y " + std::string(40, 'z'),
      "a\n\rb\r\n\r\nc",
      hundredFifty,
  };
  for (const std::string& input : cases) {
    TZerbalinTxt text(TZerbalinTxt::Mode::Fixed);
    Feed(text, input);
    const std::string lines = text.GetText();
    text.AddChar(0);
    Feed(text, lines);
    EXPECT_EQ(text.GetText(), lines) << input.substr(0, 40);
  }
}

TEST(TextModel, FixedModeStopsAtTheLastLine) {
  TZerbalinTxt text(TZerbalinTxt::Mode::Fixed);
  EXPECT_TRUE(text.IsEmpty());
  for (int i = 0; i < 150; ++i) Feed(text, "line" + std::to_string(i) + "\r\n");
  EXPECT_FALSE(text.IsEmpty());
  EXPECT_EQ(text.DisplayLine(0), "line0");
  EXPECT_EQ(text.DisplayLine(98), "line98");
  // Breaks are ignored on the last line, so the rest runs together there
  // until the line is full.
  std::string last(text.DisplayLine(99));
  EXPECT_EQ(last.size(), 132u);
  EXPECT_EQ(last.substr(0, 18), "line99line100line1");
  Feed(text, std::string(300, 'q') + " more");
  EXPECT_EQ(text.DisplayLine(99), last);
}

TEST(TextModel, LogRingKeepsTheNewestLines) {
  TZerbalinTxt text(TZerbalinTxt::Mode::Ring);
  text.AddLine("first");
  text.AddLine(std::string(200, 'w'));
  EXPECT_EQ(text.GetText(), "first\r\n" + std::string(131, 'w') + "\r\n");

  for (int i = 3; i <= 150; ++i) text.AddLine("line" + std::to_string(i));
  // The line being written is the hundredth, so 99 written lines remain,
  // oldest first.
  std::string expected;
  for (int i = 52; i <= 150; ++i) expected += "line" + std::to_string(i) + "\r\n";
  EXPECT_EQ(text.GetText(), expected);
  EXPECT_EQ(text.DisplayLine(0), "");
  EXPECT_EQ(text.DisplayLine(1), "line52");
  EXPECT_EQ(text.DisplayLine(99), "line150");
}

TEST(Log, StampsLinesWithTheHostsLocalTime) {
  testsupport::FakeHost host;
  TZerbalinTxt text(TZerbalinTxt::Mode::Ring);
  TLog log(host, text);
  int repaints = 0;
  log.SetOnLine([&](std::string_view) { ++repaints; });
  log.Log("Loaded image %s in %ld milliseconds", "a.gif", 42L);
  host.Advance(3 * 3600 * 1000 + 61 * 1000);
  TLog::InstallAsSink(&log);
  LogMessage("TIFF Error: %s", "bad");
  TLog::InstallAsSink(nullptr);
  EXPECT_EQ(text.GetText(), "09:05:07 Loaded image a.gif in 42 milliseconds\r\n12:06:08 TIFF Error: bad\r\n");
  EXPECT_EQ(repaints, 2);
}

} // namespace

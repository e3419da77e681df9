#pragma once
// A program log written into a text model on a fake host, for tests that
// check which lines a command logs.
#include <sstream>
#include <string>
#include <vector>

#include "app/log.h"
#include "app/text_model.h"
#include "support/fake_host.h"

namespace testsupport {

struct TLogCapture {
  FakeHost host;
  TZerbalinTxt text{TZerbalinTxt::Mode::Ring};
  TLog log{host, text};

  // The lines logged so far, oldest first, without their "hh:mm:ss " stamps.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream stream(text.GetText());
    for (std::string line; std::getline(stream, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line.size() > kStampLength ? line.substr(kStampLength) : std::string());
    }
    return lines;
  }

  static constexpr size_t kStampLength = 9;
};

} // namespace testsupport

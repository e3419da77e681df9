#pragma once
// The whole content of a file as text, for tests that compare files written
// by the settings and ini modules.
#include <string>
#include <vector>

#include "support/peer.h"

inline std::string ReadText(const std::string& path) {
  std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

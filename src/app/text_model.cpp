#include "app/text_model.h"

#include <algorithm>

namespace {

// A space beyond this column ends the line (word wrap at column 100).
constexpr int kWrapColumn = 99;
constexpr int kTabWidth = 8;
constexpr int kLineLimit = TZerbalinTxt::kColumns - 1; // longest line the log writer copies

} // namespace

void TZerbalinTxt::Clear() {
  m_length.fill(0);
  m_current = 0;
}

bool TZerbalinTxt::Advance() {
  if (m_mode == Mode::Fixed && m_current >= kLines - 1) return false;
  m_current = (m_current + 1) % kLines;
  ClearLine(m_current);
  return true;
}

void TZerbalinTxt::AddChar(int c) {
  if (c < -128 || c > 255) return;
  c &= 0xff;
  const bool lineBreak = c == '\r' || (c == '\n' && m_previous != '\r');
  int length = m_length[m_current];
  // A full line moves on when the next character comes; a line break there
  // ends the full line itself, so that a line of 132 characters followed by
  // CR LF (as GetText gives it) stays one line and adds no empty one.
  if (length > kColumns - 1 && !lineBreak && Advance()) length = 0;

  if (c == 0) {
    Clear();
  } else if (lineBreak || (c == ' ' && length > kWrapColumn)) {
    Advance();
  } else if (c == '\t') {
    int stop = std::min((length / kTabWidth + 1) * kTabWidth, kColumns);
    std::fill(m_text[m_current].begin() + length, m_text[m_current].begin() + stop, ' ');
    m_length[m_current] = static_cast<uint8_t>(stop);
  } else if (c >= ' ' && length < kColumns) {
    m_text[m_current][length] = static_cast<char>(c);
    m_length[m_current] = static_cast<uint8_t>(length + 1);
  }
  m_previous = c;
}

void TZerbalinTxt::AddLine(std::string_view text) {
  size_t length = std::min<size_t>(text.size(), kLineLimit);
  std::copy_n(text.data(), length, m_text[m_current].begin());
  m_length[m_current] = static_cast<uint8_t>(length);
  m_current = (m_current + 1) % kLines;
  ClearLine(m_current);
}

bool TZerbalinTxt::IsEmpty() const {
  return std::all_of(m_length.begin(), m_length.end(), [](uint8_t length) { return length == 0; });
}

std::string_view TZerbalinTxt::DisplayLine(int row) const {
  if (row < 0 || row >= kLines) return {};
  int line = (FirstShown() + row) % kLines;
  return {m_text[line].data(), m_length[line]};
}

std::string TZerbalinTxt::GetText() const {
  int last = kLines - 1;
  while (last >= 0 && DisplayLine(last).empty()) --last;
  // In ring mode the lines before the oldest written one are the unused
  // part of the ring, not text.
  int first = 0;
  if (m_mode == Mode::Ring)
    while (first < last && DisplayLine(first).empty()) ++first;
  std::string text;
  for (int row = first; row <= last; ++row) {
    text += DisplayLine(row);
    text += "\r\n";
  }
  return text;
}

#pragma once
// TZerbalinTxt: the text of the log and comments windows, 100 lines of up to
// 132 characters. The comments window fills it in fixed mode from line 0 and
// stops at the last line; the log window writes in ring mode, where the
// newest line overwrites the oldest.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TZerbalinTxt {
public:
  enum class Mode { Fixed, Ring };
  static constexpr int kLines = 100;
  static constexpr int kColumns = 132;

  explicit TZerbalinTxt(Mode mode) : m_mode(mode) { Clear(); }

  Mode GetMode() const { return m_mode; }

  // The codecs' writer, one character at a time: 0 clears everything;
  // carriage return, or a line feed not after one, breaks the line (a full
  // line, too, is broken once); tabs expand to multiples of 8; a space past
  // column 99 breaks the line; other control characters are dropped.
  // Characters are bytes (0..255; negative values are taken as signed
  // bytes).
  void AddChar(int c);
  // The log's writer: the text (up to 131 characters) becomes the current
  // line and the line after it is cleared.
  void AddLine(std::string_view text);

  bool IsEmpty() const;
  // The lines from the first shown (line 0, or in ring mode the oldest) up
  // to the last non-empty one, each followed by "\r\n".
  std::string GetText() const;

  // For painting: the i-th line from the top of the window.
  std::string_view DisplayLine(int row) const;
  int CurrentLine() const { return m_current; }

private:
  void Clear();
  void ClearLine(int line) { m_length[line] = 0; }
  // Moves to the next line in ring mode, or in fixed mode while below the
  // last line; false when a fixed text is already at its last line.
  bool Advance();
  int FirstShown() const { return m_mode == Mode::Ring ? m_current : 0; }

  Mode m_mode;
  std::array<std::array<char, kColumns>, kLines> m_text;
  std::array<uint8_t, kLines> m_length;
  int m_current = 0;
  int m_previous = 0;
};

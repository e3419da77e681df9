#pragma once
// The Decode and Encode commands: decoding every encoded file in chosen text
// files (and their numbered continuations) to disk, and uuencoding a file
// into section files for mail and news.
#include <cstdint>
#include <memory>
#include <string>

#include "app/line_sink.h"

class TDecoder;
struct TPkgStream;

// One Decode command. A file split over several chosen files is decoded
// whole: the running decoder and the open output carry over from one file
// to the next until Finish.
class TDecode {
public:
  explicit TDecode(TLineSink log);
  ~TDecode();
  TDecode(const TDecode&) = delete;
  TDecode& operator=(const TDecode&) = delete;

  // Decodes a chosen file and the numbered parts that continue it
  // (x.uu1, x.uu2, ...). False when the user asked to stop.
  bool DecodeFile(const std::string& chosen);
  // Closes what is still open at the end of the command.
  void Finish();

private:
  bool DecodePart(const std::string& part);
  void CloseOutput(bool complete);
  void WritePending();
  static void Write(void* context, const uint8_t* bytes, size_t count);

  TLineSink m_log;
  std::unique_ptr<TDecoder> m_decoder;
  TPkgStream* m_output = nullptr;
  std::string m_outputName;
  bool m_outputFailed = false;
  bool m_writeFailed = false; // a write to the output came up short
  // Decoded bytes gathered for the output, which takes them in large blocks.
  std::string m_pending;
};

// Uuencodes the file source into section files of lines lines of data each
// (the setting EncodeLines) beside it: name.uue, name.uu2, ... Returns false
// when the source or a section could not be opened or written.
bool EncodeFile(const std::string& source, int32_t lines, const TLineSink& log);

// A long name as the log lines show it: at most 50 characters, "..." and the
// end of the name, cut at a '/' where possible.
std::string ShortName(const std::string& name);

#pragma once
// Files encoded as text in mail and news messages: uuencoded, MIME base64
// and BinHex 4.0. One line reader, one recogniser of the lines that name a
// file or start one, and the three decoders serve the encoded-file layer and
// the Decode and Encode commands alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "filepkg/filepkg.h"

// Reads text a line at a time: NUL, LF and CR end lines, empty lines are
// skipped, and a line longer than maxLength continues as the next line. The
// text is read in blocks, so nothing else may read the stream meanwhile. The
// character references "&amp;", "&lt;" and "&gt;" are undone, so that
// encoded text pasted into a web page decodes too.
class TLineReader {
public:
  // With pollAbort, a stop request (PkgAbortRequested) ends the text; it is
  // asked for before each block is read, not for each of its many lines.
  TLineReader(TPkgStream* stream, size_t maxLength, bool pollAbort)
      : m_stream(stream), m_maxLength(maxLength), m_pollAbort(pollAbort) {}

  // The next non-empty line, valid until the next call; false at the end of
  // the text.
  bool Next(std::string_view& line);
  // Gives a line back: the next call of Next returns it again.
  void Unread(std::string line) { m_unread = std::move(line); }
  // Goes back to the first line.
  void Restart() {
    PkgSeek(m_stream, 0, SEEK_SET);
    m_unread.reset();
    m_stopped = false;
    m_next = m_end = nullptr;
  }
  // True when the text ended because the user asked to stop.
  bool Stopped() const { return m_stopped; }

private:
  TPkgStream* m_stream;
  size_t m_maxLength;
  bool m_pollAbort;
  bool m_stopped = false;
  // The block of text read last, and where its unread part starts.
  const uint8_t* m_next = nullptr;
  const uint8_t* m_end = nullptr;
  std::optional<std::string> m_unread;
  std::string m_line; // a line collected across blocks, or with references undone
};

enum class TEncoding { None = 0, Base64 = 1, BinHex = 2, Uuencode = 3 };

// The name a header line gives the next encoded file: the name of a MIME
// "Content-Type:" (or continued "name=") line, or of its content type as an
// extension only (".jpg"); the "filename=" of a MIME "Content-Disposition:"
// line, where today's mailers put it; the name in a BinHex header line; the
// name of a uuencode "begin" line. Empty when the line is no header line.
std::string HeaderName(std::string_view line);
// True for the header lines of a MIME part, which may follow the line that
// starts the part's decoding and still name it.
bool IsMimeHeader(std::string_view line);

// The encoding a line starts, or None. While a decoder of kind running is at
// work its own data lines start nothing: during base64 and BinHex only the
// "Content-transfer-encoding: base64" line starts base64, during uuencode
// only "begin" lines start uuencode; BinHex lines always count.
TEncoding StartOf(std::string_view line, TEncoding running);

// A decoder of one kind, fed line by line; its bytes go to a sink.
class TDecoder {
public:
  using TSink = void (*)(void* context, const uint8_t* bytes, size_t count);

  virtual ~TDecoder() = default;
  // Decodes a line if it is one of this kind's data lines (others are
  // skipped). True when the encoded file has ended.
  virtual bool Feed(std::string_view line) = 0;
  // True when the file ended in the middle of its data (BinHex and
  // uuencode know their ends; base64 does not).
  virtual bool EndsShort() const = 0;
  TEncoding Kind() const { return m_kind; }
  // True once the decoder has given out bytes.
  bool HasDelivered() const { return m_delivered; }

protected:
  TDecoder(TEncoding kind, TSink sink, void* context) : m_kind(kind), m_sink(sink), m_context(context) {}
  void Deliver(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    m_delivered = true;
    m_sink(m_context, bytes, count);
  }

private:
  bool m_delivered = false;
  TEncoding m_kind;
  TSink m_sink;
  void* m_context;
};

std::unique_ptr<TDecoder> MakeDecoder(TEncoding kind, TDecoder::TSink sink, void* context);

// One uuencoded line of up to 45 bytes: the count character, four
// characters for every three bytes (the last group may be partial), CR LF.
// A 6-bit value v is written as v + 32, and 0 as '`'.
std::string UuencodeLine(const uint8_t* bytes, size_t count);
inline constexpr size_t kUuLineBytes = 45;

#pragma once
// Pieces shared by the BMP, PCX and TGA codecs: little-endian field access in
// header buffers, the reduction rule of the readers (which every reader
// follows), the palette and rows the writers take from the picture, a
// buffered output file that remembers any failed write, and the run-length
// encoders of the PCX and TGA writers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/codec_results.h"
#include "formats/save_output.h"

struct TPkgStream;
struct TLogPalette;
class TDither;

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t value) {
  PutLe16(p, value);
  PutLe16(p + 2, value >> 16);
}

// A byte reader for tight decoding loops. It works on the stream's read
// window as PkgGetByte does, but keeps the window in its own members, which a
// local reader can hold in registers. It gives the stream its position back
// when it is destroyed; no other operation may use the stream meanwhile.
class TByteReader {
public:
  explicit TByteReader(TPkgStream* stream);
  ~TByteReader() { Sync(); }
  TByteReader(const TByteReader&) = delete;
  TByteReader& operator=(const TByteReader&) = delete;

  // 0..255, or -1 at the end of the data.
  int Get() {
    if (m_left == 0 && !Fetch()) return -1;
    --m_left;
    return *m_next++;
  }
  // The bytes left in the window, at least one unless the data has ended;
  // the caller consumes some of them with Skip.
  const uint8_t* Window(int32_t& count) {
    if (m_left == 0) Fetch();
    count = m_left;
    return m_next;
  }
  void Skip(int32_t count) {
    m_next += count;
    m_left -= count;
  }
  // Copies up to count bytes; returns how many the data still held.
  size_t Read(uint8_t* out, size_t count);

private:
  void Sync();
  void Load();
  bool Fetch();

  TPkgStream* m_stream;
  const uint8_t* m_start = nullptr;
  const uint8_t* m_next = nullptr;
  int32_t m_left = 0;
};

// Reads exactly count bytes; false when the data ends first.
bool ReadExact(TPkgStream* stream, uint8_t* buffer, size_t count);

// A few forged header bytes can declare a picture of gigabytes, which a
// reader that decodes missing data as a fixed value would then make up row
// by row. True when the data from the stream's position on, expanded as far
// as the format's best compression goes (maxExpansion bytes of rows from one
// byte of data), could hold pictureBytes.
bool StreamCanHold(TPkgStream* stream, uint64_t pictureBytes, uint64_t maxExpansion);

// Widens width pixels of 1, 2 or 4 bits, most significant bits first, to one
// byte each.
void UnpackBits(const uint8_t* in, uint8_t* out, int32_t width, int bitCount);

// The reduction factor of a new picture: with QuickLook on, the larger side is
// stored near 128 pixels; otherwise the picture is kept whole.
int32_t ReaderReduction(const TProfile& options, int32_t width, int32_t height);

// The palette an indexed picture is saved with: the ditherer's source palette
// as the caller prepared it, or the picture's own when there is no ditherer.
void WriterPalette(const TImage& image, const TDither* ditherer, TLogPalette& palette);
// Row r of the saved area (PrepareSaveOutput), converted without dithering:
// the tone tables applied to 24-bit rows, indices left unchanged. Returns the
// row's pixels: the stored row itself when neither the output geometry nor
// the tone changes it (never to be written through), otherwise buffer, which
// holds area.width pixels.
const uint8_t* FetchOutputRow(const TImage& image, const TSaveSize& area, int32_t row, uint8_t* buffer,
                              const TDither* ditherer);

// An output file opened with PkgOpen(path, "wb"). Bytes are collected in a
// buffer and written in large blocks; the first failed write is remembered,
// so a writer can keep going and ask once at the end. Finish closes the file
// and abandons it when anything went wrong or the user stopped, so that a
// short file is never left behind looking like a saved picture: the old
// file, or none, stays. Destroying an unfinished output abandons it the same
// way.
class TCodecOutput {
public:
  explicit TCodecOutput(const char* path);
  ~TCodecOutput();
  TCodecOutput(const TCodecOutput&) = delete;
  TCodecOutput& operator=(const TCodecOutput&) = delete;

  bool IsOpen() const { return m_stream != nullptr; }
  void Put(uint8_t byte) {
    if (m_fill == m_buffer.size()) Flush();
    m_buffer[m_fill++] = byte;
  }
  void Write(const uint8_t* data, size_t count);
  // Room for at least count bytes at the end of the buffer; the caller stores
  // up to count bytes there and then calls Commit with the number stored.
  uint8_t* Reserve(size_t count);
  void Commit(size_t count) { m_fill += count; }
  // Marks the output as failed, for errors the writer meets itself.
  void Fail() { m_failed = true; }
  // kSaveStopped when stopped is set (the user stopped the write);
  // otherwise kSaveWritten when every byte reached the file and it closed
  // cleanly, kSaveFailed when not.
  int Finish(bool stopped);

private:
  void Flush();

  TPkgStream* m_stream = nullptr;
  std::vector<uint8_t> m_buffer;
  size_t m_fill = 0;
  bool m_failed = false;
};

// PCX run-length encoding of one plane of one row: runs of 2 to 63 equal
// bytes become (C0 hex OR length, byte); a single byte below C0 hex is written
// as itself, a single byte of C0 hex or above as C1 hex and the byte. The
// output needs room for 2 x count bytes; returns the bytes written.
size_t PcxEncodePlane(const uint8_t* bytes, size_t count, uint8_t* out);

// TGA run-length encoding of one row of count pixels of pixelBytes (1 or 3)
// each, in packets of at most 128 pixels that never leave the row: two or
// more equal pixels form a run packet ((count - 1) OR 80 hex, one pixel),
// other pixels collect in literal packets (count - 1, the pixels). The output
// needs room for count x (pixelBytes + 1) bytes; returns the bytes written.
size_t TgaEncodeRow(const uint8_t* pixels, size_t count, size_t pixelBytes, uint8_t* out);

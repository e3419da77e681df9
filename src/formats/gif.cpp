// GIF87a and GIF89a files.
//
// Layout (16-bit numbers little-endian):
//   "GIF87a" or "GIF89a"
//   logical screen: width, height, packed byte (bit 7 global colour table,
//     bits 2-0 table size exponent - 1), background index, aspect byte
//   global colour table: 2^exponent red, green, blue triples
//   blocks, each introduced by one byte:
//     21 hex  extension: label, then data sub-blocks (length 1..255 + data),
//             ended by a length byte 0; FE hex comment, F9 hex graphic control
//     2C hex  image: left, top, width, height, packed byte (bit 7 local
//             colour table, bit 6 interlaced, bits 2-0 exponent - 1), the
//             local table, the LZW minimum code size, the compressed data as
//             sub-blocks ended by a length byte 0
//     3B hex  trailer; any other byte ends the file as well
//
// Every frame of an animation is drawn over the picture at its own place
// with its own palette and without disposal, so the picture shows the frames
// composed; pixels of a frame's transparent colour leave what lies below.
#include "formats/gif.h"

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/colour_reduction.h"
#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/lzw.h"
#include "formats/run_length.h"
#include "formats/save_output.h"

namespace {

constexpr int32_t kEmptyScreenSide = 16;  // stands in for a declared 0
constexpr int32_t kNoTransparency = -1;

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kCommentLabel = 0xFE;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kTrailer = 0x3B;

constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kInterlacedFlag = 0x40;
constexpr uint8_t kTableExponentMask = 0x07;
constexpr uint8_t kTransparencyFlag = 0x01;

struct TPass {
  int32_t start;
  int32_t step;
};
constexpr TPass kInterlacedPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
constexpr TPass kSinglePass[] = {{0, 1}};

// ---------------------------------------------------------------------------
// Reading

struct TFrame {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool interlaced = false;
  int32_t transparent = kNoTransparency;
};

struct TGifReader {
  TGifReader(TPkgStream* s, TImage& i, const TProfile& o) : stream(s), image(i), options(o) {}

  TPkgStream* stream;
  TImage& image;
  const TProfile& options;
  int32_t screenWidth = 0;
  int32_t screenHeight = 0;
  uint8_t background = 0;
  TLogPalette globalPalette;
  int32_t pendingTransparent = kNoTransparency;
  int32_t imageCount = 0;
  bool stop = false;      // reading ends: bad or missing data, or a stop
  bool stopped = false;   // the user asked to stop
  bool shortFrame = false; // a frame's data ended before its last pixel

  // The data sub-blocks of the frame being decoded.
  uint8_t block[255] = {};
  bool blocksEnded = false; // the terminating length byte or the end of the stream was met
  TLzwDecoder decoder;
  std::vector<uint8_t> frameRow; // decode target when the frame has a transparent colour
};

int32_t ReadU16(TPkgStream* stream) {
  const int low = PkgGetByte(stream);
  const int high = PkgGetByte(stream);
  if (low < 0 || high < 0) return -1;
  return low | (high << 8);
}

// Reads count red, green, blue triples; false when the stream ends first.
bool ReadColourTable(TPkgStream* stream, int32_t count, TLogPalette& palette) {
  uint8_t rgb[256 * 3];
  if (PkgRead(rgb, 3, count, stream) != static_cast<size_t>(count)) return false;
  palette = TLogPalette{};
  palette.count = static_cast<uint16_t>(count);
  for (int32_t i = 0; i < count; ++i) palette.entries[i] = {rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2], 0};
  return true;
}

// The table a file without a global colour table gets: evenly spaced greys.
void GreyTable(int32_t count, TLogPalette& palette) {
  palette = TLogPalette{};
  palette.count = static_cast<uint16_t>(count);
  for (int32_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (count - 1));
    palette.entries[i] = {v, v, v, 0};
  }
}

// Walks data sub-blocks up to their terminator, handing every byte with its
// offset in the data to visit. False when the stream ends first.
template <typename Visit>
bool ReadSubBlocks(TPkgStream* stream, Visit visit) {
  int32_t offset = 0;
  for (;;) {
    const int length = PkgGetByte(stream);
    if (length <= 0) return length == 0;
    for (int i = 0; i < length; ++i) {
      const int byte = PkgGetByte(stream);
      if (byte < 0) return false;
      visit(offset++, static_cast<uint8_t>(byte));
    }
  }
}

bool SkipSubBlocks(TPkgStream* stream) {
  return ReadSubBlocks(stream, [](int32_t, uint8_t) {});
}

void ReadExtension(TGifReader& reader) {
  const int label = PkgGetByte(reader.stream);
  bool complete = false;
  if (label == kCommentLabel) {
    complete = ReadSubBlocks(reader.stream, [](int32_t, uint8_t byte) {
      if (byte != 0) CommentChar(byte);
    });
  } else if (label == kGraphicControlLabel) {
    complete = ReadSubBlocks(reader.stream, [&reader](int32_t offset, uint8_t byte) {
      if (offset == 0) reader.pendingTransparent = (byte & kTransparencyFlag) ? 0 : kNoTransparency;
      if (offset == 3 && reader.pendingTransparent != kNoTransparency) reader.pendingTransparent = byte;
    });
  } else if (label >= 0) {
    complete = SkipSubBlocks(reader.stream);
  }
  if (!complete) reader.stop = true;
}

// The source of the LZW decoder: one data sub-block per call.
int32_t NextDataBlock(void* context, const uint8_t** data) {
  auto& reader = *static_cast<TGifReader*>(context);
  if (reader.blocksEnded) return 0;
  const int length = PkgGetByte(reader.stream);
  if (length <= 0) {
    reader.blocksEnded = true;
    return 0;
  }
  const auto got = static_cast<int32_t>(PkgRead(reader.block, 1, length, reader.stream));
  if (got < length) reader.blocksEnded = true;
  *data = reader.block;
  return got;
}

// Hands the decoded row to the picture, leaving the pixels of the
// transparent colour as they are.
void PutOpaquePixels(TImage& image, uint8_t* buffer, const TFrame& frame, int32_t y, const uint8_t* row,
                     int32_t count) {
  const bool inPlace = image.m_reduction == 1 && buffer == image.Row(y) + frame.left;
  const int32_t reduction = image.m_reduction;
  if (!inPlace && y % reduction == 0 && y / reduction < image.Height()) {
    // The buffer is not the stored row: the pixels Put row will sample get
    // the stored values first, so transparent ones put back what is there.
    const uint8_t* stored = image.Row(y / reduction);
    for (int32_t i = 0, column = frame.left / reduction; i < count && column < image.Width();
         i += reduction, ++column)
      buffer[i] = stored[column];
  }
  const auto transparent = static_cast<uint8_t>(frame.transparent);
  for (int32_t i = 0; i < count; ++i)
    if (row[i] != transparent) buffer[i] = row[i];
  if (!inPlace) image.PutRow(frame.left, y, buffer, count);
}

bool ReportStreamProgress(TGifReader& reader) {
  const int64_t size = std::max<int64_t>(reader.stream->size, 1);
  const auto percent =
      static_cast<int>(std::clamp<int64_t>(int64_t{reader.stream->position} * 100 / size, 0, 100));
  reader.stopped = ProgressReport(percent) != 0;
  return !reader.stopped;
}

// Decodes the frame's rows in pass order. Returns false when reading must
// end: corrupt data or a user abort. A frame whose data ends early keeps its
// rows so far and reading goes on.
bool DecodeRows(TGifReader& reader, const TFrame& frame) {
  const bool transparent = frame.transparent != kNoTransparency;
  if (transparent) reader.frameRow.resize(frame.width);
  const std::span<const TPass> passes =
      frame.interlaced ? std::span<const TPass>(kInterlacedPasses) : std::span<const TPass>(kSinglePass);
  for (const TPass& pass : passes) {
    // Passes that start below a short frame have no rows.
    for (int32_t row = pass.start; row < frame.height; row += pass.step) {
      const int32_t y = frame.top + row;
      uint8_t* buffer = reader.image.RowBuffer(frame.left, y, frame.width);
      if (!buffer) return false;
      int32_t decoded = 0;
      if (transparent) {
        decoded = reader.decoder.Read(reader.frameRow.data(), frame.width);
        PutOpaquePixels(reader.image, buffer, frame, y, reader.frameRow.data(), decoded);
      } else {
        decoded = reader.decoder.Read(buffer, frame.width);
        reader.image.PutRow(frame.left, y, buffer, decoded);
      }
      if (!ReportStreamProgress(reader)) return false;
      if (decoded < frame.width) {
        reader.shortFrame = true;
        return reader.decoder.Status() != TLzwStatus::Corrupt;
      }
    }
  }
  return true;
}

void DecodeFrame(TGifReader& reader, const TFrame& frame) {
  const int minCodeSize = PkgGetByte(reader.stream);
  reader.blocksEnded = false;
  if (!reader.decoder.Start(minCodeSize, NextDataBlock, &reader)) {
    reader.stop = true;
    return;
  }
  if (frame.width > 0 && frame.height > 0 && !DecodeRows(reader, frame)) {
    reader.stop = true;
    return;
  }
  // Whatever follows the last row (the end code, padding) is skipped.
  if (!reader.blocksEnded && !SkipSubBlocks(reader.stream)) reader.stop = true;
}

void CreatePicture(TGifReader& reader) {
  const int32_t reduction = ReaderReduction(reader.options, reader.screenWidth, reader.screenHeight);
  const auto fill = static_cast<uint8_t>(reader.pendingTransparent != kNoTransparency ? reader.pendingTransparent
                                                                                       : reader.background);
  reader.image.Create(0, reader.screenWidth, reader.screenHeight, 1, 1, 1, reduction, fill);
}

void ReadImage(TGifReader& reader) {
  TPkgStream* stream = reader.stream;
  TFrame frame;
  frame.left = ReadU16(stream);
  frame.top = ReadU16(stream);
  frame.width = ReadU16(stream);
  frame.height = ReadU16(stream);
  const int packed = PkgGetByte(stream);
  if (frame.height < 0 || packed < 0) {
    reader.stop = true;
    return;
  }
  const int32_t right = frame.left + frame.width;
  const int32_t bottom = frame.top + frame.height;
  if (right > reader.screenWidth || bottom > reader.screenHeight) {
    // Only the first frame may make the screen larger; a later one outside
    // it means the file is not what it claims.
    if (reader.imageCount > 0) {
      reader.stop = true;
      return;
    }
    reader.screenWidth = std::max(reader.screenWidth, right);
    reader.screenHeight = std::max(reader.screenHeight, bottom);
  }
  if (reader.imageCount == 0) CreatePicture(reader);

  TLogPalette palette = reader.globalPalette;
  if ((packed & kColourTableFlag) &&
      !ReadColourTable(stream, 1 << ((packed & kTableExponentMask) + 1), palette)) {
    reader.stop = true;
    return;
  }
  frame.interlaced = (packed & kInterlacedFlag) != 0;
  frame.transparent = reader.pendingTransparent;
  if (frame.transparent != kNoTransparency) {
    palette.entries[frame.transparent] = {static_cast<uint8_t>(reader.options.Get(IntKey::BackgroundRed)),
                                          static_cast<uint8_t>(reader.options.Get(IntKey::BackgroundGreen)),
                                          static_cast<uint8_t>(reader.options.Get(IntKey::BackgroundBlue)), 0};
  }
  reader.image.SetPalette(palette);
  DecodeFrame(reader, frame);
  reader.pendingTransparent = kNoTransparency;
  ++reader.imageCount;
}

// The signature, screen descriptor and global table; false when the file
// ends inside them. Every screen the 16-bit fields can declare is read.
bool ReadHeader(TGifReader& reader) {
  TPkgStream* stream = reader.stream;
  uint8_t signature[6];
  if (PkgRead(signature, 1, sizeof signature, stream) != sizeof signature) return false;
  reader.screenWidth = ReadU16(stream);
  reader.screenHeight = ReadU16(stream);
  if (reader.screenHeight < 0) return false;
  if (reader.screenWidth == 0) reader.screenWidth = kEmptyScreenSide;
  if (reader.screenHeight == 0) reader.screenHeight = kEmptyScreenSide;
  const int packed = PkgGetByte(stream);
  const int background = PkgGetByte(stream);
  const int aspect = PkgGetByte(stream);
  if (aspect < 0) return false;
  reader.background = static_cast<uint8_t>(background);
  reader.pendingTransparent = kNoTransparency;
  const int32_t tableCount = 1 << ((packed & kTableExponentMask) + 1);
  if (packed & kColourTableFlag) {
    if (!ReadColourTable(stream, tableCount, reader.globalPalette)) return false;
  } else {
    GreyTable(tableCount, reader.globalPalette);
  }
  return true;
}

} // namespace

// A file without a single frame has no picture to show (Failed); one whose
// reading ended on bad or missing data keeps what its frames drew (Partial).
TReadOutcome ReadGif(TPkgStream* stream, TImage& image, const TProfile& options) {
  auto reader = std::make_unique<TGifReader>(stream, image, options);
  if (!ReadHeader(*reader)) return TReadOutcome::Failed;
  while (!reader->stop) {
    const int introducer = PkgGetByte(stream);
    if (introducer == kExtensionIntroducer)
      ReadExtension(*reader);
    else if (introducer == kImageSeparator)
      ReadImage(*reader);
    else
      break; // the trailer, the end of the stream or anything unknown
  }
  if (reader->stopped) return TReadOutcome::Stopped;
  if (reader->imageCount == 0) return TReadOutcome::Failed;
  return reader->stop || reader->shortFrame ? TReadOutcome::Partial : TReadOutcome::Complete;
}

namespace {

// ---------------------------------------------------------------------------
// Writing

constexpr int32_t kMaxFileSide = 65535;
constexpr int32_t kLiteralTableExponent = 7; // one code per pixel needs room before the next clear

struct TGifWriter {
  TPkgStream* stream = nullptr;
  bool transparentOn = false;
  uint8_t transparentIndex = 0;
  bool interlaced = false;
  TLzwMode mode = TLzwMode::Compress;
  bool failed = false;
  TLzwEncoder encoder;
};

bool PutBytes(TGifWriter& writer, const uint8_t* bytes, size_t count) {
  if (!writer.failed && PkgWrite(bytes, 1, count, writer.stream) != count) writer.failed = true;
  return !writer.failed;
}

bool PutBytes(TGifWriter& writer, std::initializer_list<uint8_t> bytes) {
  return PutBytes(writer, bytes.begin(), bytes.size());
}

bool PutU16(TGifWriter& writer, int32_t value) {
  return PutBytes(writer, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

// Writes data as sub-blocks of at most 255 bytes (without the terminator).
bool PutSubBlocks(TGifWriter& writer, const uint8_t* data, size_t count) {
  for (size_t offset = 0; offset < count; offset += 255) {
    const auto length = static_cast<uint8_t>(std::min<size_t>(255, count - offset));
    if (!PutBytes(writer, {length}) || !PutBytes(writer, data + offset, length)) return false;
  }
  return true;
}

bool PutEncodedChunk(void* context, const uint8_t* data, int32_t length) {
  return PutSubBlocks(*static_cast<TGifWriter*>(context), data, static_cast<size_t>(length));
}

// The global table: the palette, then black up to the table size; without a
// palette, evenly spaced greys.
bool PutColourTable(TGifWriter& writer, int32_t tableSize, int32_t colourCount, const uint8_t* bgrPalette) {
  uint8_t table[256 * 3] = {};
  for (int32_t i = 0; i < colourCount && i < tableSize; ++i) {
    uint8_t* rgb = &table[i * 3];
    if (bgrPalette) {
      rgb[0] = bgrPalette[i * 3 + 2];
      rgb[1] = bgrPalette[i * 3 + 1];
      rgb[2] = bgrPalette[i * 3];
    } else {
      const auto grey = static_cast<uint8_t>(colourCount > 1 ? (i * 255 + (colourCount - 1) / 2) / (colourCount - 1) : 0);
      rgb[0] = rgb[1] = rgb[2] = grey;
    }
  }
  return PutBytes(writer, table, static_cast<size_t>(tableSize) * 3);
}

bool PutComment(TGifWriter& writer) {
  const std::string text = CommentGetText();
  if (text.empty()) return true;
  return PutBytes(writer, {kExtensionIntroducer, kCommentLabel}) &&
         PutSubBlocks(writer, reinterpret_cast<const uint8_t*>(text.data()), text.size()) && PutBytes(writer, {0});
}

bool WriteHeader(TGifWriter& writer, int32_t width, int32_t height, int32_t colourCount, const uint8_t* bgrPalette) {
  if (width < 1 || height < 1 || width > kMaxFileSide || height > kMaxFileSide) return false;
  int32_t exponent = 1;
  while ((1 << exponent) < colourCount) ++exponent;
  if (writer.mode == TLzwMode::Literal) exponent = std::max(exponent, kLiteralTableExponent);
  const int32_t minCodeSize = std::max(exponent, 2);
  const auto sizeBits = static_cast<uint8_t>(exponent - 1);

  const uint8_t signature[6] = {'G', 'I', 'F', '8', static_cast<uint8_t>(writer.transparentOn ? '9' : '7'), 'a'};
  bool ok = PutBytes(writer, signature, sizeof signature) && PutU16(writer, width) && PutU16(writer, height) &&
            PutBytes(writer, {static_cast<uint8_t>(kColourTableFlag | (sizeBits << 4) | sizeBits), 0, 0}) &&
            PutColourTable(writer, 1 << exponent, colourCount, bgrPalette) && PutComment(writer);
  if (ok && writer.transparentOn)
    ok = PutBytes(writer, {kExtensionIntroducer, kGraphicControlLabel, 4, kTransparencyFlag, 0, 0,
                           writer.transparentIndex, 0});
  ok = ok && PutBytes(writer, {kImageSeparator}) && PutU16(writer, 0) && PutU16(writer, 0) &&
       PutU16(writer, width) && PutU16(writer, height) &&
       PutBytes(writer, {static_cast<uint8_t>(writer.interlaced ? kInterlacedFlag : 0),
                         static_cast<uint8_t>(minCodeSize)});
  if (ok) writer.encoder.Start(minCodeSize + 1, writer.mode, PutEncodedChunk, &writer);
  return ok;
}

bool WriteTrailer(TGifWriter& writer) {
  return writer.encoder.Finish() && PutBytes(writer, {0, kTrailer});
}

} // namespace

int WriteGif(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  PrepareSaveOutput(image, options);
  auto writer = std::make_unique<TGifWriter>();
  writer->transparentOn = options.Get(IntKey::GIFTransparent) != 0;
  // Taken before any reduction: for a reduced picture it is the index the
  // border had, not its place in the new palette.
  if (writer->transparentOn) writer->transparentIndex = image.BorderColour();
  writer->interlaced = options.Get(IntKey::GIFInterlaced) != 0;
  writer->mode = options.Get(IntKey::GIFLZWEnable) != 0 ? TLzwMode::Compress : TLzwMode::Literal;

  writer->stream = PkgOpen(path, "wb");
  if (!writer->stream) return kSaveFailed;
  TGifWriter& w = *writer;
  TReductionWriters writers;
  writers.header = [&w](int32_t width, int32_t height, int32_t colourCount, const uint8_t* bgrPalette) {
    return WriteHeader(w, width, height, colourCount, bgrPalette);
  };
  writers.row = [&w](const uint8_t* indices, int32_t count) {
    w.encoder.Write(indices, count);
    return !w.encoder.Failed();
  };
  writers.trailer = [&w]() { return WriteTrailer(w); };
  const TReduceResult result =
      ReduceColours(image, ditherer, w.interlaced ? TRowOrder::Interlaced : TRowOrder::Sequential,
                    options.Get(IntKey::GIFColors), writers);
  // A file that stopped short is abandoned rather than left looking saved.
  const bool complete = result == TReduceResult::Ok && !w.failed;
  const int closed = PkgClose(w.stream, complete ? kPkgKeep : kPkgAbandon);
  if (result == TReduceResult::Aborted) return kSaveStopped;
  return complete && closed == 0 ? kSaveWritten : kSaveFailed;
}

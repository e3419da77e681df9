#include "formats/jpeg_source.h"

#include <algorithm>
#include <array>
#include <climits>

#include <jerror.h>

#include "filepkg/filepkg.h"

namespace {

// Plain data is mapped from the stream in blocks of this size and handed to
// the library without copying.
constexpr int32_t kMapBlock = 65536;
// Rewritten wrapper data is produced in chunks of about this size.
constexpr size_t kWorkChunk = 16384;

constexpr uint8_t kEoi[2] = {0xFF, 0xD9};

uint16_t Big16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }
uint32_t Big32(const uint8_t* bytes) {
  return static_cast<uint32_t>(Big16(bytes)) << 16 | Big16(bytes + 2);
}

// The quantisation tables (zigzag order) that the two kinds of "BM" camera
// files leave out; byte 10 of the file selects the pair.
constexpr uint8_t kBmBLuminance[64] = {
    7,  4,  5,  6,  5,  4,  7,  6,  5,  6,  7,  7,  7,  8,  10, 17, 11, 10, 9,  9,  10, 21,
    15, 16, 12, 17, 25, 22, 26, 26, 24, 22, 24, 24, 28, 31, 40, 34, 28, 29, 38, 30, 24, 24,
    35, 47, 35, 38, 41, 42, 45, 45, 45, 27, 33, 49, 52, 49, 43, 52, 40, 44, 45, 43};
constexpr uint8_t kBmOtherLuminance[64] = {
    10, 6,  7,  8,  7,  6,  10, 8,  8,  8,  11, 10, 10, 11, 15, 25, 16, 15, 13, 13, 15, 30,
    21, 23, 18, 25, 36, 31, 38, 37, 35, 31, 35, 34, 40, 45, 57, 48, 40, 42, 54, 43, 34, 35,
    50, 68, 50, 54, 59, 61, 64, 65, 64, 38, 48, 70, 75, 70, 62, 75, 57, 63, 64, 61};
constexpr uint8_t kBmBChrominanceHead[14] = {7, 7, 7, 10, 9, 10, 20, 11, 11, 20, 43, 28, 24, 28};
constexpr uint8_t kBmOtherChrominanceHead[14] = {13, 14, 14, 18, 16, 18, 36,
                                                 20, 20, 36, 77, 51, 43, 51};

// A chrominance table whose first 14 entries are given and whose other 50
// repeat the last value that the camera uses for all high frequencies.
std::array<uint8_t, 64> ChrominanceTable(const uint8_t (&head)[14], uint8_t rest) {
  std::array<uint8_t, 64> table{};
  std::copy(std::begin(head), std::end(head), table.begin());
  std::fill(table.begin() + 14, table.end(), rest);
  return table;
}

// One Huffman table as a DHT segment carries it.
struct THuffmanSpec {
  uint8_t classAndId;
  std::array<uint8_t, 16> counts;
  std::vector<uint8_t> values;
};

// The four Huffman tables of the JPEG standard's Annex K in the order the
// wrappers need them: luminance DC, luminance AC, chrominance DC,
// chrominance AC. The library's compression defaults are exactly these
// tables, so they are taken from there instead of keeping a second copy.
const std::array<THuffmanSpec, 4>& StandardTables() {
  static const std::array<THuffmanSpec, 4> tables = [] {
    std::array<THuffmanSpec, 4> result{};
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    info.in_color_space = JCS_RGB;
    info.input_components = 3;
    jpeg_set_defaults(&info);
    const JHUFF_TBL* sources[4] = {info.dc_huff_tbl_ptrs[0], info.ac_huff_tbl_ptrs[0],
                                   info.dc_huff_tbl_ptrs[1], info.ac_huff_tbl_ptrs[1]};
    constexpr uint8_t kClassAndId[4] = {0x00, 0x10, 0x01, 0x11};
    for (int t = 0; t < 4; ++t) {
      result[t].classAndId = kClassAndId[t];
      int total = 0;
      for (int i = 0; i < 16; ++i) {
        result[t].counts[i] = sources[t]->bits[i + 1];
        total += sources[t]->bits[i + 1];
      }
      result[t].values.assign(sources[t]->huffval, sources[t]->huffval + total);
    }
    jpeg_destroy_compress(&info);
    return result;
  }();
  return tables;
}

void AppendBig16(std::vector<uint8_t>& out, size_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

// The standard tables as one DHT segment, or as four segments of one table.
void AppendStandardTables(std::vector<uint8_t>& out, bool oneSegment) {
  const auto& tables = StandardTables();
  auto tableBytes = [](const THuffmanSpec& table) { return 17 + table.values.size(); };
  size_t segmentLength = 2;
  for (const auto& table : tables) segmentLength += tableBytes(table);
  for (size_t t = 0; t < tables.size(); ++t) {
    if (!oneSegment || t == 0) {
      out.insert(out.end(), {0xFF, 0xC4});
      AppendBig16(out, oneSegment ? segmentLength : 2 + tableBytes(tables[t]));
    }
    out.push_back(tables[t].classAndId);
    out.insert(out.end(), tables[t].counts.begin(), tables[t].counts.end());
    out.insert(out.end(), tables[t].values.begin(), tables[t].values.end());
  }
}

// Frame headers the wrappers leave out: 8-bit precision, lines, samples per
// line, then component 1 with its sampling factors and table 0 and
// components 2 and 3 at 1 x 1 with table 1.
constexpr std::initializer_list<uint8_t> kFrame600x400 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x90,
                                                         0x02, 0x58, 0x03, 0x01, 0x11, 0x00, 0x02,
                                                         0x11, 0x01, 0x03, 0x11, 0x01};
constexpr std::initializer_list<uint8_t> kFrame480x240 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0,
                                                         0x01, 0xE0, 0x03, 0x01, 0x32, 0x00, 0x02,
                                                         0x11, 0x01, 0x03, 0x11, 0x01};
// An APP1 segment that one kind of "BM" camera file expects to be present.
constexpr std::initializer_list<uint8_t> kPicSegment = {0xFF, 0xE1, 0x00, 0x0A, 'P',  'I',
                                                       'C',  0x00, 0x01, 0x14, 0x19, 0x01};

} // namespace

TJpegSource::TJpegSource(TPkgStream* stream) : m_stream(stream) {}

void TJpegSource::Attach(j_decompress_ptr info) {
  m_manager.pub.init_source = InitSource;
  m_manager.pub.fill_input_buffer = FillInputBuffer;
  m_manager.pub.skip_input_data = SkipInputData;
  m_manager.pub.resync_to_restart = jpeg_resync_to_restart;
  m_manager.pub.term_source = TermSource;
  m_manager.pub.next_input_byte = nullptr;
  m_manager.pub.bytes_in_buffer = 0;
  m_manager.owner = this;
  info->src = &m_manager.pub;
}

TJpegSource& TJpegSource::From(j_decompress_ptr info) {
  return *reinterpret_cast<TManager*>(info->src)->owner;
}

void TJpegSource::InitSource(j_decompress_ptr) {}
void TJpegSource::TermSource(j_decompress_ptr) {}

boolean TJpegSource::FillInputBuffer(j_decompress_ptr info) {
  From(info).Fill(info);
  return TRUE;
}

void TJpegSource::SkipInputData(j_decompress_ptr info, long count) {
  TJpegSource& self = From(info);
  jpeg_source_mgr& source = self.m_manager.pub;
  if (count <= 0) return;
  while (static_cast<size_t>(count) > source.bytes_in_buffer) {
    count -= static_cast<long>(source.bytes_in_buffer);
    self.Fill(info);
    // Past the end there is only the substitute end marker, which the
    // library must still see.
    if (self.m_endReached) return;
  }
  source.next_input_byte += count;
  source.bytes_in_buffer -= static_cast<size_t>(count);
}

int TJpegSource::NextByte(j_decompress_ptr info) {
  TJpegSource& self = From(info);
  jpeg_source_mgr& source = self.m_manager.pub;
  if (source.bytes_in_buffer == 0) self.Fill(info);
  if (self.m_endReached) return -1;
  --source.bytes_in_buffer;
  return *source.next_input_byte++;
}

void TJpegSource::Hand(const uint8_t* data, size_t count) {
  m_manager.pub.next_input_byte = data;
  m_manager.pub.bytes_in_buffer = count;
}

void TJpegSource::HandEnd(j_decompress_ptr info) {
  if (!m_endReached) {
    m_endReached = true;
    WARNMS(info, JWRN_JPEG_EOF);
  }
  Hand(kEoi, sizeof kEoi);
}

void TJpegSource::Fill(j_decompress_ptr info) {
  if (!m_planned) {
    m_planned = true;
    Plan();
  }
  // When the file ends, whatever the plan still holds depends on data that
  // is missing, so the library gets the end marker at once.
  while (!m_endReached && m_stepIndex < m_plan.size()) {
    TStep& step = m_plan[m_stepIndex];
    switch (step.kind) {
    case TStepKind::Supply:
      ++m_stepIndex;
      Hand(m_supplied.data() + step.offset, static_cast<size_t>(step.count));
      return;
    case TStepKind::FileBytes:
    case TStepKind::FileRest: {
      if (step.kind == TStepKind::FileBytes && step.count == 0) {
        ++m_stepIndex;
        continue;
      }
      const uint8_t* data = nullptr;
      const int32_t count = FileBlock(step.kind == TStepKind::FileBytes ? step.count : INT64_MAX, &data);
      if (count == 0) break;
      if (step.kind == TStepKind::FileBytes) step.count -= count;
      Hand(data, static_cast<size_t>(count));
      return;
    }
    case TStepKind::SwappedRest:
    case TStepKind::SfwRest: {
      const size_t count = step.kind == TStepKind::SwappedRest ? ProduceSwapped() : ProduceSfw();
      if (count == 0) break;
      Hand(m_work.data(), count);
      return;
    }
    }
    break;
  }
  HandEnd(info);
}

bool TJpegSource::MapMore() {
  if (m_fileEnded) return false;
  uint8_t* data = nullptr;
  const int32_t count = PkgMapRead(&data, kMapBlock, m_stream);
  if (count <= 0 || !data) {
    m_fileEnded = true;
    return false;
  }
  m_block = data;
  m_blockLeft = count;
  return true;
}

int TJpegSource::FileByte() {
  if (m_blockLeft == 0 && !MapMore()) return -1;
  --m_blockLeft;
  return *m_block++;
}

int32_t TJpegSource::FileBlock(int64_t limit, const uint8_t** data) {
  if (m_blockLeft == 0 && !MapMore()) return 0;
  const int32_t count = static_cast<int32_t>(std::min<int64_t>(m_blockLeft, limit));
  *data = m_block;
  m_block += count;
  m_blockLeft -= count;
  return count;
}

void TJpegSource::SkipFile(int64_t count) {
  const int32_t inBlock = static_cast<int32_t>(std::min<int64_t>(m_blockLeft, count));
  m_block += inBlock;
  m_blockLeft -= inBlock;
  count -= inBlock;
  if (count == 0 || m_fileEnded) return;
  // The stream stands right after the consumed block, so a relative seek
  // skips the rest; a target beyond the end simply reads nothing.
  if (PkgSeek(m_stream, count, 1) != 0) m_fileEnded = true;
}

bool TJpegSource::SkipPast(uint8_t first, uint8_t second) {
  int previous = -1;
  for (;;) {
    const int byte = FileByte();
    if (byte < 0) return false;
    if (previous == first && byte == second) return true;
    previous = byte;
  }
}

void TJpegSource::AddStep(TStepKind kind, int64_t count) { m_plan.push_back({kind, 0, count}); }

void TJpegSource::Supply(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  const size_t offset = m_supplied.size();
  m_supplied.insert(m_supplied.end(), bytes, bytes + count);
  // Consecutive supplied segments go to the library in one piece.
  if (!m_plan.empty() && m_plan.back().kind == TStepKind::Supply &&
      m_plan.back().offset + static_cast<size_t>(m_plan.back().count) == offset) {
    m_plan.back().count += static_cast<int64_t>(count);
  } else {
    m_plan.push_back({TStepKind::Supply, offset, static_cast<int64_t>(count)});
  }
}

void TJpegSource::Supply(std::initializer_list<uint8_t> bytes) { Supply(bytes.begin(), bytes.size()); }

void TJpegSource::SupplyJfif(uint16_t xDensity, uint16_t yDensity) {
  // JFIF 1.2, densities in dots per inch, no thumbnail.
  Supply({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x01,
          static_cast<uint8_t>(xDensity >> 8), static_cast<uint8_t>(xDensity),
          static_cast<uint8_t>(yDensity >> 8), static_cast<uint8_t>(yDensity), 0x00, 0x00});
}

void TJpegSource::SupplyStandardTables(bool oneSegment) {
  std::vector<uint8_t> bytes;
  AppendStandardTables(bytes, oneSegment);
  Supply(bytes.data(), bytes.size());
}

void TJpegSource::SupplyQuantisationPair(const uint8_t* table0, const uint8_t* table1) {
  Supply({0xFF, 0xDB, 0x00, 0x84, 0x00});
  Supply(table0, 64);
  Supply({0x01});
  Supply(table1, 64);
}

void TJpegSource::SupplyFile(int64_t count) { AddStep(TStepKind::FileBytes, count); }

void TJpegSource::Plan() {
  uint8_t head[4] = {};
  size_t got = 0;
  for (int byte; got < sizeof head && (byte = FileByte()) >= 0;) head[got++] = static_cast<uint8_t>(byte);
  auto headIs = [&](std::initializer_list<uint8_t> bytes) {
    return got >= bytes.size() && std::equal(bytes.begin(), bytes.end(), head);
  };
  if (headIs({0x07, 0x20, 0x4D, 0x4D})) {
    PlanContainer();
  } else if (headIs({'B', 'M'})) {
    PlanBmWrapper();
  } else if (headIs({0x53, 0x46, 0x57, 0x39})) {
    PlanSfw();
  } else if (headIs({0x80, 0x3E, 0x44, 0x53})) {
    // A headerless file whose own SOI comes after a private header.
    if (!SkipPast(0xFF, 0xD8)) return;
    Supply({0xFF, 0xD8});
    SupplyJfif(72, 60);
    AddStep(TStepKind::FileRest);
  } else if (headIs({0xD8, 0xFF, 0xC4, 0xFF})) {
    // Compressed sensor data of the Kodak DC120, whose 16-bit words are
    // stored with their bytes exchanged and which holds every other row.
    m_halfHeight = true;
    Supply({0xFF, 0xD8});
    SupplyJfif(100, 150);
    Supply({0xFF, 0xC4});
    AddStep(TStepKind::SwappedRest);
  } else {
    Supply(head, got);
    AddStep(TStepKind::FileRest);
  }
}

// A container: a 16-bit count of 16-byte directory entries. The entries
// before the first of kind 3 or 4 describe data blocks that precede the
// picture. Kind 4 is complete JPEG data; kind 3 is preceded by the lengths of
// its three scans, which follow the two quantisation tables without any
// JPEG segment around them.
void TJpegSource::PlanContainer() {
  uint8_t countBytes[2];
  for (uint8_t& byte : countBytes) {
    const int value = FileByte();
    if (value < 0) return;
    byte = static_cast<uint8_t>(value);
  }
  const uint16_t entryCount = Big16(countBytes);
  int64_t skipped = 0;
  uint16_t kind = 0;
  for (uint16_t e = 0; e < entryCount; ++e) {
    uint8_t entry[16];
    for (uint8_t& byte : entry) {
      const int value = FileByte();
      if (value < 0) return;
      byte = static_cast<uint8_t>(value);
    }
    if (kind != 0) continue;
    const uint16_t entryKind = Big16(entry);
    if (entryKind == 3 || entryKind == 4) {
      kind = entryKind;
    } else {
      skipped += Big32(entry + 2);
    }
  }
  if (kind == 0) {
    AddStep(TStepKind::FileRest);
    return;
  }
  SkipFile(skipped);
  uint8_t lengths[8] = {};
  size_t got = 0;
  if (kind == 3) {
    for (int byte; got < sizeof lengths && (byte = FileByte()) >= 0;) lengths[got++] = static_cast<uint8_t>(byte);
  }
  if (kind == 4 || got < sizeof lengths || lengths[0] != 0x00 || lengths[1] != 0x03) {
    Supply(lengths, got);
    AddStep(TStepKind::FileRest);
    return;
  }
  Supply({0xFF, 0xD8});
  SupplyJfif(72, 48);
  Supply({0xFF, 0xDB, 0x00, 0x43, 0x00});
  SupplyFile(64);
  Supply({0xFF, 0xDB, 0x00, 0x43, 0x01});
  SupplyFile(64);
  Supply(kFrame480x240);
  SupplyStandardTables(false);
  for (uint8_t component = 1; component <= 3; ++component) {
    const uint8_t tables = component == 1 ? 0x00 : 0x11;
    Supply({0xFF, 0xDA, 0x00, 0x08, 0x01, component, tables, 0x00, 0x3F, 0x00});
    SupplyFile(Big16(lengths + 2 * component));
  }
  Supply(kEoi, sizeof kEoi);
}

// A "BM" camera file: a 16-byte header, then JPEG data without the segments
// its camera takes for granted. Byte 10 tells the two kinds apart.
void TJpegSource::PlanBmWrapper() {
  uint8_t header[16] = {'B', 'M'};
  for (size_t i = 4; i < sizeof header; ++i) {
    const int value = FileByte();
    if (value < 0) return;
    header[i] = static_cast<uint8_t>(value);
  }
  if (header[10] == 'B') {
    if (!SkipPast(0xFF, 0xDA)) return;
    Supply({0xFF, 0xD8});
    SupplyJfif(72, 72);
    Supply(kFrame600x400);
    SupplyQuantisationPair(kBmBLuminance, ChrominanceTable(kBmBChrominanceHead, 43).data());
    SupplyStandardTables(true);
    Supply({0xFF, 0xDA});
  } else {
    if (!SkipPast(0xFF, 0xC4)) return;
    Supply({0xFF, 0xD8});
    SupplyJfif(72, 72);
    Supply(kPicSegment);
    Supply(kFrame600x400);
    SupplyQuantisationPair(kBmOtherLuminance, ChrominanceTable(kBmOtherChrominanceHead, 77).data());
    Supply({0xFF, 0xC4});
  }
  AddStep(TStepKind::FileRest);
}

// A picture of a Seattle Filmworks archive ("SFW94A"): JPEG data whose
// marker codes are replaced by private ones and whose Huffman tables are
// left out, stored bottom row first.
void TJpegSource::PlanSfw() {
  m_bottomUp = true;
  if (!SkipPast(0xFF, 0xD0)) return;
  SkipFile(16);
  Supply({0xFF, 0xD8});
  SupplyJfif(72, 72);
  AddStep(TStepKind::SfwRest);
}

size_t TJpegSource::ProduceSwapped() {
  m_work.clear();
  while (m_work.size() < kWorkChunk) {
    const int first = FileByte();
    const int second = first < 0 ? -1 : FileByte();
    if (second < 0) break;
    m_work.push_back(static_cast<uint8_t>(second));
    m_work.push_back(static_cast<uint8_t>(first));
  }
  return m_work.size();
}

size_t TJpegSource::ProduceSfw() {
  m_work.clear();
  while (m_work.size() < kWorkChunk) {
    const int byte = FileByte();
    if (byte < 0) break;
    if (byte != 0xFF) {
      m_work.push_back(static_cast<uint8_t>(byte));
      continue;
    }
    const int code = FileByte();
    if (code < 0) break;
    switch (code) {
    case 0x00: m_work.insert(m_work.end(), {0xFF, 0x00}); break;
    case 0xA0: m_work.insert(m_work.end(), {0xFF, 0xC0}); break;
    case 0xCB: m_work.insert(m_work.end(), {0xFF, 0xDB}); break;
    case 0xCA:
      AppendStandardTables(m_work, true);
      m_work.insert(m_work.end(), {0xFF, 0xDA});
      break;
    default: m_work.insert(m_work.end(), {0xFF, 0xD9}); break;
    }
  }
  return m_work.size();
}

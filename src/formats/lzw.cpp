#include "formats/lzw.h"

#include <algorithm>
#include <endian.h>

#include <cstring>

// ---------------------------------------------------------------------------
// Decoder

bool TLzwDecoder::Start(int32_t minCodeSize, TLzwSource source, void* context) {
  if (minCodeSize < 2 || minCodeSize > 8) return false;
  m_source = source;
  m_context = context;
  m_input = TBitReader{};
  m_minCodeSize = minCodeSize;
  m_clear = 1 << minCodeSize;
  m_status = TLzwStatus::Ok;
  m_pendingStart = m_pendingEnd = 0;
  for (int32_t i = 0; i < m_clear; ++i) {
    m_prefix[i] = 0;
    m_suffix[i] = static_cast<uint8_t>(i);
    m_first[i] = static_cast<uint8_t>(i);
    m_length[i] = 1;
  }
  ResetTable();
  return true;
}

void TLzwDecoder::ResetTable() {
  m_width = m_minCodeSize + 1;
  m_nextFree = 0;
  m_previous = -1;
}

inline bool TLzwDecoder::NextCode(TBitReader& input, int32_t width, int32_t& code) const {
  // Four bytes at once while the chunk has them: one refill serves two or
  // three codes.
  if (input.bitCount < width && input.chunkLeft >= 4) {
    uint32_t word;
    std::memcpy(&word, input.chunk, 4);
    input.bits |= static_cast<uint64_t>(le32toh(word)) << input.bitCount;
    input.bitCount += 32;
    input.chunk += 4;
    input.chunkLeft -= 4;
  }
  while (input.bitCount < width) {
    if (input.chunkLeft == 0) {
      input.chunkLeft = m_source(m_context, &input.chunk);
      if (input.chunkLeft <= 0) {
        input.chunkLeft = 0;
        return false;
      }
    }
    input.bits |= static_cast<uint64_t>(*input.chunk++) << input.bitCount;
    input.bitCount += 8;
    --input.chunkLeft;
  }
  code = static_cast<int32_t>(input.bits & ((1u << width) - 1));
  input.bits >>= width;
  input.bitCount -= width;
  return true;
}

inline void TLzwDecoder::CopyString(int32_t code, uint8_t* out) const {
  // Every table entry is its prefix's string plus one byte, so walking the
  // prefixes length - 1 times ends on a single-pixel code.
  uint8_t* p = out + m_length[code];
  for (int32_t i = m_length[code]; i > 1; --i) {
    *--p = m_suffix[code];
    code = m_prefix[code];
  }
  *--p = static_cast<uint8_t>(code);
}

int32_t TLzwDecoder::Read(uint8_t* out, int32_t count) {
  int32_t produced = 0;
  if (m_pendingStart < m_pendingEnd) {
    produced = std::min(count, m_pendingEnd - m_pendingStart);
    std::memcpy(out, &m_pending[m_pendingStart], produced);
    m_pendingStart += produced;
  }
  // The state that changes with every code is kept in locals: stores through
  // out may alias any member, which would otherwise be read again after
  // every pixel.
  TBitReader input = m_input;
  int32_t width = m_width;
  int32_t nextFree = m_nextFree;
  int32_t previous = m_previous;
  TLzwStatus status = m_status;
  const int32_t clear = m_clear;
  while (produced < count && status == TLzwStatus::Ok) {
    int32_t code = 0;
    if (!NextCode(input, width, code)) {
      status = TLzwStatus::NoData;
      break;
    }
    if (code == clear) {
      width = m_minCodeSize + 1;
      nextFree = 0;
      previous = -1;
      continue;
    }
    if (code == clear + 1) {
      status = TLzwStatus::End;
      break;
    }
    if (nextFree == 0) {
      // The first code after a clear (or at the start) has no previous
      // string to extend; it must be a single pixel.
      if (code >= clear) {
        status = TLzwStatus::Corrupt;
        break;
      }
      out[produced++] = static_cast<uint8_t>(code);
      previous = code;
      nextFree = clear + 2;
      continue;
    }
    if (code > nextFree) {
      status = TLzwStatus::Corrupt;
      break;
    }
    if (nextFree < kLzwMaxCodes) {
      // A code equal to the next free one is the previous string followed
      // by its own first byte, which is the previous string's first byte.
      m_prefix[nextFree] = static_cast<uint16_t>(previous);
      m_suffix[nextFree] = code < nextFree ? m_first[code] : m_first[previous];
      m_first[nextFree] = m_first[previous];
      m_length[nextFree] = static_cast<uint16_t>(m_length[previous] + 1);
      ++nextFree;
      if (nextFree > (1 << width) - 1 && width < kLzwMaxWidth) ++width;
    }
    previous = code;
    const int32_t length = m_length[code];
    if (length <= count - produced) {
      CopyString(code, out + produced);
      produced += length;
    } else {
      CopyString(code, m_pending.data());
      const int32_t fits = count - produced;
      std::memcpy(out + produced, m_pending.data(), fits);
      m_pendingStart = fits;
      m_pendingEnd = length;
      produced = count;
    }
  }
  m_input = input;
  m_width = width;
  m_nextFree = nextFree;
  m_previous = previous;
  m_status = status;
  return produced;
}

// ---------------------------------------------------------------------------
// Encoder

void TLzwEncoder::Start(int32_t initialWidth, TLzwMode mode, TLzwSink sink, void* context) {
  m_sink = sink;
  m_context = context;
  m_mode = mode;
  m_initialWidth = std::clamp(initialWidth, 3, 9);
  m_width = m_initialWidth;
  m_clear = 1 << (m_initialWidth - 1);
  m_nextFree = m_clear + 2;
  m_largest = (1 << m_width) - 1;
  m_prefix = -1;
  m_bits = 0;
  m_bitCount = 0;
  m_failed = false;
  m_chunkLength = 0;
  m_hash.fill(0);
  Emit(m_clear);
}

// Every code passes through here; inlined into the pixel loops it saves a
// call per code.
[[gnu::always_inline]] inline void TLzwEncoder::Emit(int32_t code) {
  m_bits |= static_cast<uint32_t>(code) << m_bitCount;
  m_bitCount += m_width;
  while (m_bitCount >= 8) {
    PutByte(static_cast<uint8_t>(m_bits));
    m_bits >>= 8;
    m_bitCount -= 8;
  }
  if (m_nextFree > m_largest) {
    ++m_width;
    m_largest = m_width >= kLzwMaxWidth ? kLzwMaxCodes : (1 << m_width) - 1;
  }
}

void TLzwEncoder::Write(const uint8_t* pixels, int32_t count) {
  if (count <= 0) return;
  // Only values below the clear code are pixels; anything above would be
  // read back as a control or table code and wreck the rest of the file.
  const uint8_t mask = static_cast<uint8_t>(m_clear - 1);
  if (m_prefix < 0) {
    m_prefix = pixels[0] & mask;
    ++pixels;
    --count;
  }
  if (m_mode == TLzwMode::Compress)
    WriteCompressed(pixels, count);
  else
    WriteLiteral(pixels, count);
}

void TLzwEncoder::WriteCompressed(const uint8_t* pixels, int32_t count) {
  const uint8_t mask = static_cast<uint8_t>(m_clear - 1);
  int32_t prefix = m_prefix;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t c = pixels[i] & mask;
    const auto key = static_cast<uint32_t>(prefix << 8 | c);
    int32_t slot = c * 16 + prefix;
    if (slot >= kHashSize) slot -= kHashSize;
    THashSlot entry = m_hash[slot];
    if (entry != 0 && entry >> 12 != key) {
      // Secondary probing with a step that depends on the slot; the table
      // size is prime, so every slot is reached before one repeats.
      const int32_t step = slot == 0 ? 1 : kHashSize - slot;
      do {
        slot -= step;
        if (slot < 0) slot += kHashSize;
        entry = m_hash[slot];
      } while (entry != 0 && entry >> 12 != key);
    }
    if (entry != 0) {
      prefix = static_cast<int32_t>(entry & 0xFFF);
      continue;
    }
    Emit(prefix);
    if (m_nextFree >= kLzwMaxCodes) {
      EmitClear();
    } else {
      m_hash[slot] = key << 12 | static_cast<uint32_t>(m_nextFree);
      ++m_nextFree;
    }
    prefix = c;
  }
  m_prefix = prefix;
}

void TLzwEncoder::WriteLiteral(const uint8_t* pixels, int32_t count) {
  // The table the decoder builds is never used; clearing before it would
  // force a wider code keeps every code at the initial width.
  const uint8_t mask = static_cast<uint8_t>(m_clear - 1);
  for (int32_t i = 0; i < count; ++i) {
    Emit(m_prefix);
    if (m_nextFree < m_largest)
      ++m_nextFree;
    else
      EmitClear();
    m_prefix = pixels[i] & mask;
  }
}

void TLzwEncoder::EmitClear() {
  Emit(m_clear);
  if (m_mode == TLzwMode::Compress) m_hash.fill(0);
  m_nextFree = m_clear + 2;
  m_width = m_initialWidth;
  m_largest = (1 << m_width) - 1;
}

void TLzwEncoder::PutByte(uint8_t byte) {
  m_chunk[m_chunkLength++] = byte;
  if (m_chunkLength == static_cast<int32_t>(m_chunk.size())) FlushChunk();
}

void TLzwEncoder::FlushChunk() {
  if (m_chunkLength > 0 && !m_failed && !m_sink(m_context, m_chunk.data(), m_chunkLength)) m_failed = true;
  m_chunkLength = 0;
}

bool TLzwEncoder::Finish() {
  if (m_prefix >= 0) Emit(m_prefix);
  Emit(m_clear + 1);
  if (m_bitCount > 0) {
    PutByte(static_cast<uint8_t>(m_bits));
    m_bits = 0;
    m_bitCount = 0;
  }
  FlushChunk();
  return !m_failed;
}

#include "formats/lzw.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// Decoder

bool TLzwDecoder::Start(int32_t minCodeSize, TLzwSource source, void* context) {
  if (minCodeSize < 2 || minCodeSize > 8) return false;
  m_source = source;
  m_context = context;
  m_chunk = nullptr;
  m_chunkLeft = 0;
  m_bits = 0;
  m_bitCount = 0;
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

bool TLzwDecoder::NextCode(int32_t& code) {
  while (m_bitCount < m_width) {
    if (m_chunkLeft == 0) {
      m_chunkLeft = m_source(m_context, &m_chunk);
      if (m_chunkLeft <= 0) {
        m_chunkLeft = 0;
        return false;
      }
    }
    m_bits |= static_cast<uint32_t>(*m_chunk++) << m_bitCount;
    m_bitCount += 8;
    --m_chunkLeft;
  }
  code = static_cast<int32_t>(m_bits & ((1u << m_width) - 1));
  m_bits >>= m_width;
  m_bitCount -= m_width;
  return true;
}

void TLzwDecoder::CopyString(int32_t code, uint8_t* out) const {
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
  while (produced < count && m_status == TLzwStatus::Ok) {
    int32_t code = 0;
    if (!NextCode(code)) {
      m_status = TLzwStatus::NoData;
      break;
    }
    if (code == m_clear) {
      ResetTable();
      continue;
    }
    if (code == m_clear + 1) {
      m_status = TLzwStatus::End;
      break;
    }
    if (m_nextFree == 0) {
      // The first code after a clear (or at the start) has no previous
      // string to extend; it must be a single pixel.
      if (code >= m_clear) {
        m_status = TLzwStatus::Corrupt;
        break;
      }
      out[produced++] = static_cast<uint8_t>(code);
      m_previous = code;
      m_nextFree = m_clear + 2;
      continue;
    }
    if (code > m_nextFree) {
      m_status = TLzwStatus::Corrupt;
      break;
    }
    if (m_nextFree < kLzwMaxCodes) {
      // A code equal to the next free one is the previous string followed
      // by its own first byte, which is the previous string's first byte.
      const int32_t entry = m_nextFree;
      m_prefix[entry] = static_cast<uint16_t>(m_previous);
      m_suffix[entry] = code < entry ? m_first[code] : m_first[m_previous];
      m_first[entry] = m_first[m_previous];
      m_length[entry] = static_cast<uint16_t>(m_length[m_previous] + 1);
      ++m_nextFree;
      if (m_nextFree > (1 << m_width) - 1 && m_width < kLzwMaxWidth) ++m_width;
    }
    m_previous = code;
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

void TLzwEncoder::Emit(int32_t code) {
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

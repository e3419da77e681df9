#pragma once
// The variable-length-code LZW of GIF files, both ways. Codes are packed
// least significant bit first; a code width starts at the minimum code size
// plus one and grows to 12 bits as the string table fills. The sub-block
// framing of the compressed bytes belongs to the caller: the decoder pulls
// the bytes in chunks through a source function, the encoder hands out
// chunks of at most 255 packed bytes through a sink function.
#include <array>
#include <cstdint>

inline constexpr int32_t kLzwMaxCodes = 4096;
inline constexpr int32_t kLzwMaxWidth = 12;

// Gives the next chunk of compressed bytes in *data and returns its length;
// 0 when there are no more.
using TLzwSource = int32_t (*)(void* context, const uint8_t** data);

enum class TLzwStatus {
  Ok,      // more pixels may follow
  End,     // the end code was read
  Corrupt, // a code above the next free code, or a first code that is no pixel
  NoData,  // the source ran dry before the end code
};

class TLzwDecoder {
public:
  // Prepares a decode; false when minCodeSize is outside 2..8.
  bool Start(int32_t minCodeSize, TLzwSource source, void* context);
  // Decodes up to count pixels into out and returns how many were written.
  // Fewer than count means decoding has stopped; Status() says why.
  int32_t Read(uint8_t* out, int32_t count);
  TLzwStatus Status() const { return m_status; }

private:
  // Codes are read from the source's chunks through a bit accumulator.
  struct TBitReader {
    const uint8_t* chunk = nullptr;
    int32_t chunkLeft = 0;
    uint64_t bits = 0; // bitCount < 32 before any refill, so 32 more fit
    int32_t bitCount = 0;
  };

  [[gnu::always_inline]] inline bool NextCode(TBitReader& input, int32_t width, int32_t& code) const;
  void ResetTable();
  // Writes the string of code backwards from out + its length - 1.
  [[gnu::always_inline]] inline void CopyString(int32_t code, uint8_t* out) const;

  TLzwSource m_source = nullptr;
  void* m_context = nullptr;
  TBitReader m_input;

  int32_t m_minCodeSize = 2;
  int32_t m_clear = 4;
  int32_t m_width = 3;
  int32_t m_nextFree = 0; // 0 while no code has followed a clear
  int32_t m_previous = -1;
  TLzwStatus m_status = TLzwStatus::Ok;

  std::array<uint16_t, kLzwMaxCodes> m_prefix{};
  std::array<uint8_t, kLzwMaxCodes> m_suffix{};
  std::array<uint8_t, kLzwMaxCodes> m_first{};   // first byte of each code's string
  std::array<uint16_t, kLzwMaxCodes> m_length{}; // length of each code's string

  // The part of a string that did not fit into the caller's buffer.
  std::array<uint8_t, kLzwMaxCodes + 1> m_pending{};
  int32_t m_pendingStart = 0;
  int32_t m_pendingEnd = 0;
};

// Receives one chunk of at most 255 packed bytes; false when it could not be
// written.
using TLzwSink = bool (*)(void* context, const uint8_t* data, int32_t length);

enum class TLzwMode {
  Compress, // the string table of the 5003-slot hash
  Literal,  // one code per pixel at the initial width, with clears in time
};

class TLzwEncoder {
public:
  // Emits the first clear code; initialWidth = minimum code size + 1.
  void Start(int32_t initialWidth, TLzwMode mode, TLzwSink sink, void* context);
  void Write(const uint8_t* pixels, int32_t count);
  // Emits the pending string and the end code and flushes the last chunk;
  // false when any chunk could not be written.
  bool Finish();
  bool Failed() const { return m_failed; }

private:
  static constexpr int32_t kHashSize = 5003;
  // A slot holds a string's prefix code (bits 20-31), its last pixel (bits
  // 12-19) and its own code (bits 0-11); 0 is empty, as no string's code is
  // 0. Packed, the table fits the first-level cache, which matters because
  // every pixel probes it.
  using THashSlot = uint32_t;

  void WriteCompressed(const uint8_t* pixels, int32_t count);
  void WriteLiteral(const uint8_t* pixels, int32_t count);
  void Emit(int32_t code);
  // Emits a clear code at the current width and starts a new table.
  void EmitClear();
  void PutByte(uint8_t byte);
  void FlushChunk();

  TLzwSink m_sink = nullptr;
  void* m_context = nullptr;
  TLzwMode m_mode = TLzwMode::Compress;
  int32_t m_initialWidth = 3;
  int32_t m_width = 3;
  int32_t m_clear = 4;
  int32_t m_nextFree = 6;
  int32_t m_largest = 7;
  int32_t m_prefix = -1; // -1 until the first pixel
  uint32_t m_bits = 0;
  int32_t m_bitCount = 0;
  bool m_failed = false;

  std::array<THashSlot, kHashSize> m_hash{};
  std::array<uint8_t, 255> m_chunk{};
  int32_t m_chunkLength = 0;
};

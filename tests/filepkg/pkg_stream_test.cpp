// Reading and writing disk files and scratch streams through package handles.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"

using namespace pkgtest;

namespace {

// A file in a temporary directory holding Pattern(size), opened with mode.
class PkgStream : public testing::Test {
protected:
  TPkgStream* OpenFile(size_t size, const char* mode) {
    WriteFile(m_path, Pattern(size));
    return PkgOpen(m_path.c_str(), mode);
  }
  TTempDir m_dir;
  std::string m_path = m_dir / "f.bin";
};

// Files of these sizes cover the empty file, a partial block, exact blocks of
// the ring and several blocks with a tail.
const size_t kSizes[] = {0, 1, 32767, 32768, 65536, 100000};

TEST_F(PkgStream, ReadOnlyAndReadWriteHandlesReadTheSameBytes) {
  for (size_t size : kSizes) {
    SCOPED_TRACE(size);
    for (const char* mode : {"rb", "rb+"}) {
      SCOPED_TRACE(mode);
      TPkgStream* stream = OpenFile(size, mode);
      ASSERT_NE(stream, nullptr);
      EXPECT_EQ(ReadAll(stream), Pattern(size));
      EXPECT_EQ(PkgTell(stream), static_cast<int32_t>(size));
      EXPECT_EQ(PkgClose(stream, 0), 0);
    }
  }
}

TEST_F(PkgStream, ByteReaderAgreesWithReadAndKeepsPositionExact) {
  for (const char* mode : {"rb", "rb+"}) {
    SCOPED_TRACE(mode);
    TPkgStream* stream = OpenFile(100000, mode);
    ASSERT_NE(stream, nullptr);
    std::vector<uint8_t> bytes;
    for (int c; (c = PkgGetByte(stream)) >= 0;) {
      bytes.push_back(static_cast<uint8_t>(c));
      // Every other operation ends the read window: the position it reports
      // must be just past the byte handed out, and reading goes on from there.
      if (bytes.size() % 9973 == 0) {
        ASSERT_EQ(PkgTell(stream), static_cast<int32_t>(bytes.size()));
        uint8_t next[3];
        ASSERT_EQ(PkgRead(next, 1, 3, stream), 3u);
        bytes.insert(bytes.end(), next, next + 3);
      }
    }
    EXPECT_EQ(bytes, Pattern(100000));
    EXPECT_EQ(PkgTell(stream), 100000);
    PkgClose(stream, 0);
  }
}

// The byte reader keeps the rest of one Map as its window. Every other
// operation empties it, so that the fast path never hands out a byte from
// before that operation (a byte just written, a position just moved).
TEST_F(PkgStream, EveryOperationEmptiesTheReadWindow) {
  using TOperation = void (*)(TPkgStream*);
  const struct {
    const char* name;
    TOperation operation;
  } cases[] = {
      {"tell", [](TPkgStream* s) { PkgTell(s); }},
      {"seek", [](TPkgStream* s) { PkgSeek(s, 0, 1); }},
      {"fill", [](TPkgStream* s) { PkgFill(s, 0); }},
      {"read", [](TPkgStream* s) { uint8_t b; PkgRead(&b, 1, 1, s); }},
      {"map read", [](TPkgStream* s) { uint8_t* d; PkgMapRead(&d, 1, s); }},
      {"write", [](TPkgStream* s) { PkgWrite("x", 1, 1, s); }},
      {"putc", [](TPkgStream* s) { PkgPutc('x', s); }},
      {"map write", [](TPkgStream* s) { uint8_t* d; PkgMapWrite(&d, 1, s); }},
      {"info", [](TPkgStream* s) { TPkgInfo i; PkgGetInfo(s, &i); }},
      {"set time", [](TPkgStream* s) { PkgSetTime(s, 0); }},
      {"truncate", [](TPkgStream* s) { PkgTruncate(s); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPkgStream* stream = OpenFile(100000, "rb+");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(PkgGetByte(stream), 0);
    EXPECT_EQ(stream->windowCount, 32767) << "one Map serves the rest of the block";
    c.operation(stream);
    EXPECT_EQ(stream->windowCount, 0);
    EXPECT_EQ(stream->windowPtr, nullptr);
    PkgClose(stream, 0);
  }
  TPkgStream* readOnly = OpenFile(100000, "rb");
  ASSERT_EQ(PkgGetByte(readOnly), 0);
  EXPECT_EQ(readOnly->windowCount, 99999) << "a small file opened read only is one window";
  PkgClose(readOnly, 0);
}

TEST_F(PkgStream, MapReadOfASmallReadOnlyFileServesTheWholeFileAtOnce) {
  TPkgStream* stream = OpenFile(100000, "rb");
  ASSERT_NE(stream, nullptr);
  uint8_t* data = nullptr;
  ASSERT_EQ(PkgMapRead(&data, 200000, stream), 100000);
  EXPECT_EQ(std::memcmp(data, Pattern(100000).data(), 100000), 0);
  EXPECT_EQ(PkgMapRead(&data, 1, stream), 0);
  EXPECT_EQ(data, nullptr);
  PkgClose(stream, 0);
}

TEST_F(PkgStream, MapReadOfRingNeverCrossesABlock) {
  TPkgStream* stream = OpenFile(100000, "rb+");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(PkgSeek(stream, 30000, 0), 0);
  uint8_t* data = nullptr;
  EXPECT_EQ(PkgMapRead(&data, 10000, stream), 32768 - 30000);
  EXPECT_EQ(data[0], Pattern(100000)[30000]);
  EXPECT_EQ(PkgMapRead(&data, 10000, stream), 10000);
  EXPECT_EQ(data[0], Pattern(100000)[32768]);
  PkgClose(stream, 0);
}

TEST_F(PkgStream, SeekPastEndThenReadGivesNothing) {
  TPkgStream* stream = OpenFile(1000, "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(PkgSeek(stream, 5000, 0), 0);
  EXPECT_EQ(PkgTell(stream), 5000);
  uint8_t buffer[10];
  EXPECT_EQ(PkgRead(buffer, 1, 10, stream), 0u);
  EXPECT_EQ(PkgGetByte(stream), -1);
  EXPECT_EQ(PkgSeek(stream, -10, 2), 0);
  EXPECT_EQ(PkgTell(stream), 990);
  EXPECT_EQ(PkgSeek(stream, -90, 1), 0);
  EXPECT_EQ(PkgGetByte(stream), Pattern(1000)[900]);
  EXPECT_EQ(PkgSeek(stream, 89, 1), 0);
  EXPECT_EQ(PkgSeek(stream, -1, 0), -1) << "a position before the start";
  EXPECT_EQ(PkgSeek(stream, 0, 3), -1) << "no such origin";
  EXPECT_EQ(PkgTell(stream), 990);
  PkgClose(stream, 0);
}

TEST_F(PkgStream, ReadsCountWholeItems) {
  TPkgStream* stream = OpenFile(10, "rb");
  uint8_t buffer[12];
  EXPECT_EQ(PkgRead(buffer, 4, 3, stream), 2u);
  EXPECT_EQ(PkgRead(buffer, 4, 0, stream), 0u);
  PkgClose(stream, 0);
}

TEST_F(PkgStream, WritingPastTheEndExtendsWithZeros) {
  for (int32_t gap : {10, 32768, 70000}) {
    SCOPED_TRACE(gap);
    TPkgStream* stream = OpenFile(100, "rb+");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(PkgSeek(stream, 100 + gap, 0), 0);
    ASSERT_EQ(PkgWrite("xyz", 1, 3, stream), 3u);
    EXPECT_EQ(PkgClose(stream, 0), 0);
    std::vector<uint8_t> expected = Pattern(100);
    expected.resize(100 + gap, 0);
    expected.insert(expected.end(), {'x', 'y', 'z'});
    EXPECT_EQ(ReadFile(m_path), expected);
  }
}

TEST_F(PkgStream, OverwriteInTheMiddleKeepsTheRest) {
  TPkgStream* stream = OpenFile(100000, "rb+");
  ASSERT_EQ(PkgSeek(stream, 32760, 0), 0);
  std::vector<uint8_t> patch(40000, 0xee);
  EXPECT_EQ(PkgWrite(patch.data(), 1, patch.size(), stream), patch.size());
  EXPECT_EQ(PkgPutc(0x1ff, stream), 0xff);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  std::vector<uint8_t> expected = Pattern(100000);
  std::fill(expected.begin() + 32760, expected.begin() + 32760 + 40001, 0xee);
  expected[32760 + 40000] = 0xff;
  EXPECT_EQ(ReadFile(m_path), expected);
}

TEST_F(PkgStream, TruncateCutsAtThePosition) {
  TPkgStream* stream = OpenFile(100000, "rb+");
  ASSERT_EQ(PkgSeek(stream, 40000, 0), 0);
  ASSERT_EQ(PkgWrite("ab", 1, 2, stream), 2u);
  EXPECT_EQ(PkgTruncate(stream), 0);
  EXPECT_EQ(PkgSeek(stream, 0, 2), 0);
  EXPECT_EQ(PkgTell(stream), 40002);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  std::vector<uint8_t> expected = Pattern(40000);
  expected.insert(expected.end(), {'a', 'b'});
  EXPECT_EQ(ReadFile(m_path), expected);

  TPkgStream* readOnly = PkgOpen(m_path.c_str(), "rb");
  EXPECT_EQ(PkgTruncate(readOnly), -1);
  PkgClose(readOnly, 0);
}

TEST_F(PkgStream, DirectionOfAccessIsEnforced) {
  TPkgStream* readOnly = OpenFile(100, "rb");
  EXPECT_EQ(PkgWrite("x", 1, 1, readOnly), 0u);
  EXPECT_EQ(PkgPutc('x', readOnly), -1);
  PkgClose(readOnly, 0);
  TPkgStream* writeOnly = PkgOpen(m_path.c_str(), "wb");
  EXPECT_EQ(PkgPutc('x', writeOnly), 'x');
  EXPECT_EQ(PkgSeek(writeOnly, 0, 0), 0);
  EXPECT_EQ(PkgGetByte(writeOnly), -1);
  PkgClose(writeOnly, 0);
  EXPECT_EQ(ReadFile(m_path), std::vector<uint8_t>{'x'});
}

TEST_F(PkgStream, MapWriteHandsOutTheRestOfABlockToFill) {
  TPkgStream* stream = PkgOpen(m_path.c_str(), "wb+");
  ASSERT_NE(stream, nullptr);
  uint8_t* data = nullptr;
  ASSERT_EQ(PkgMapWrite(&data, 40000, stream), 32768);
  std::memset(data, 'a', 32768);
  ASSERT_EQ(PkgMapWrite(&data, 2, stream), 2);
  std::memcpy(data, "bc", 2);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  std::vector<uint8_t> expected(32768, 'a');
  expected.insert(expected.end(), {'b', 'c'});
  EXPECT_EQ(ReadFile(m_path), expected);
}

TEST_F(PkgStream, FilesBeyondTwoGigabytesAreReadAndWritten) {
  // A sparse file of 3 GB: no disk space is used for the hole.
  constexpr int64_t kSize = int64_t{3} << 30;
  WriteFile(m_path, "");
  ASSERT_EQ(truncate(m_path.c_str(), kSize), 0);
  TPkgStream* stream = PkgOpen(m_path.c_str(), "rb+");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(PkgSeek(stream, -4, 2), 0);
  EXPECT_EQ(PkgTell(stream), kSize - 4);
  EXPECT_EQ(PkgWrite("tail", 1, 4, stream), 4u);
  ASSERT_EQ(PkgSeek(stream, int64_t{5} << 29, 0), 0) << "a seek past 2 GB";
  EXPECT_EQ(PkgWrite("mid", 1, 3, stream), 3u);
  EXPECT_EQ(PkgClose(stream, 0), 0);

  stream = PkgOpen(m_path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  char bytes[5] = {};
  ASSERT_EQ(PkgSeek(stream, -4, 2), 0);
  EXPECT_EQ(PkgRead(bytes, 1, 4, stream), 4u);
  EXPECT_STREQ(bytes, "tail");
  EXPECT_EQ(PkgTell(stream), kSize);
  ASSERT_EQ(PkgSeek(stream, int64_t{5} << 29, 0), 0);
  EXPECT_EQ(PkgRead(bytes, 1, 3, stream), 3u);
  EXPECT_EQ(std::string(bytes, 3), "mid");
  EXPECT_EQ(PkgClose(stream, 0), 0);
}

TEST_F(PkgStream, AFileCutShortWhileReadEndsAtItsNewEnd) {
  // A file of four read blocks, cut inside its third block, at a block
  // boundary and in its last block, after the first bytes were read.
  constexpr size_t kSize = 2 << 20;
  for (const char* mode : {"rb", "rb+"}) {
    for (size_t cut : {size_t{1100000}, size_t{1} << 20, size_t{2000000}}) {
      SCOPED_TRACE(testing::Message() << mode << ", cut at " << cut);
      TPkgStream* stream = OpenFile(kSize, mode);
      ASSERT_NE(stream, nullptr);
      uint8_t first[100];
      ASSERT_EQ(PkgRead(first, 1, sizeof(first), stream), sizeof(first));
      ASSERT_EQ(truncate(m_path.c_str(), cut), 0);
      std::vector<uint8_t> expected = Pattern(cut);
      expected.erase(expected.begin(), expected.begin() + sizeof(first));
      EXPECT_EQ(ReadAll(stream), expected);
      EXPECT_EQ(PkgGetByte(stream), -1);
      EXPECT_EQ(PkgSeek(stream, 0, 2), 0);
      EXPECT_EQ(PkgTell(stream), static_cast<int64_t>(cut));
      PkgClose(stream, 0);
    }
  }
}

// Files of procfs and of some FUSE file systems report a size of 0 however
// much they hold.
TEST(PkgProcFiles, AFileThatReportsNoSizeIsReadToItsEnd) {
  TPkgStream* stream = PkgOpen("/proc/self/status", "rb");
  ASSERT_NE(stream, nullptr);
  std::vector<uint8_t> bytes = ReadAll(stream);
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("Name:", 0), 0u) << text;
  EXPECT_NE(text.find("\nPid:\t" + std::to_string(getpid()) + "\n"), std::string::npos) << text;
  EXPECT_EQ(PkgSeek(stream, 0, 2), 0);
  EXPECT_EQ(PkgTell(stream), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(PkgClose(stream, 0), 0);

  // The memory map of this process describes every mapping in about a
  // kilobyte; with every other page of a region made readable it fills
  // several blocks of the ring. Read byte by byte, it ends with its last line.
  constexpr size_t kPages = 128;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* region = mmap(nullptr, kPages * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(region, MAP_FAILED);
  for (size_t i = 0; i < kPages; i += 2) mprotect(static_cast<char*>(region) + i * page, page, PROT_READ);
  stream = PkgOpen("/proc/self/smaps", "rb");
  ASSERT_NE(stream, nullptr);
  std::string smaps;
  for (int c; (c = PkgGetByte(stream)) >= 0;) smaps += static_cast<char>(c);
  EXPECT_GT(smaps.size(), 65536u);
  EXPECT_NE(smaps.find("VmFlags:"), std::string::npos);
  EXPECT_EQ(smaps.back(), '\n');
  PkgClose(stream, 0);
  munmap(region, kPages * page);
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

TEST(PkgScratch, ScratchStreamUsesAFileOnlyOnceItsSlotsOverflow) {
  TPkgStream* stream = PkgTempStream(32768, 2);
  ASSERT_NE(stream, nullptr);
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  EXPECT_EQ(info.type, 'b');
  EXPECT_EQ(info.access, '*');
  EXPECT_STREQ(info.layerId, "fil");
  int before = OpenDescriptors();
  std::vector<uint8_t> data = Pattern(65536);
  ASSERT_EQ(PkgWrite(data.data(), 1, data.size(), stream), data.size());
  EXPECT_EQ(OpenDescriptors(), before) << "two slots' worth stays in memory";
  std::vector<uint8_t> more = Pattern(200000);
  ASSERT_EQ(PkgWrite(more.data(), 1, more.size(), stream), more.size());
  EXPECT_EQ(OpenDescriptors(), before + 1) << "a slot had to be written out";
  data.insert(data.end(), more.begin(), more.end());
  ASSERT_EQ(PkgSeek(stream, 0, 0), 0);
  EXPECT_EQ(ReadAll(stream), data);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(PkgScratch, ScratchStreamTruncateKeepsTheBytesBefore) {
  // 600 bytes still sit in the two slots with no file behind them; 3000
  // bytes have overflowed into the file.
  for (int32_t written : {600, 3000}) {
    SCOPED_TRACE(written);
    TPkgStream* stream = PkgTempStream(512, 2);
    ASSERT_NE(stream, nullptr);
    std::vector<uint8_t> data = Pattern(written);
    ASSERT_EQ(PkgWrite(data.data(), 1, data.size(), stream), data.size());
    ASSERT_EQ(PkgSeek(stream, written - 50, 0), 0);
    ASSERT_EQ(PkgTruncate(stream), 0);
    ASSERT_EQ(PkgSeek(stream, 0, 0), 0);
    data.resize(written - 50);
    EXPECT_EQ(ReadAll(stream), data);
    PkgClose(stream, 0);
  }
  EXPECT_EQ(PkgTempStream(0, 2), nullptr);
  EXPECT_EQ(PkgTempStream(512, 0), nullptr);
}

} // namespace

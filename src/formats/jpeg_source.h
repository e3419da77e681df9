#pragma once
// The JPEG library's data source over a package stream. Plain JPEG data is
// handed to the library straight from the stream's mapped blocks. Several
// early digital cameras store JPEG data in a wrapper, without some of the
// segments a JPEG stream needs or with its bytes rearranged; the source
// recognises those wrappers by their first four bytes and hands the library
// a corrected stream built from segments it supplies itself and from the
// file's data. When the data ends early the library gets an end-of-image
// marker, with its usual premature-end warning, so a short file decodes as
// far as it goes.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include <jpeglib.h>

struct TPkgStream;

class TJpegSource {
public:
  explicit TJpegSource(TPkgStream* stream);
  TJpegSource(const TJpegSource&) = delete;
  TJpegSource& operator=(const TJpegSource&) = delete;

  // Makes this object the library's source; it must outlive the library
  // object's use of it.
  void Attach(j_decompress_ptr info);

  // The wrapper stores its rows bottom to top: output row t is picture row
  // height - 1 - t.
  bool BottomUp() const { return m_bottomUp; }
  // The wrapper holds every other row of a sensor picture: output row t
  // stands for picture rows 2t and 2t + 1.
  bool HalfHeight() const { return m_halfHeight; }
  // True once the data ended before the library had read its end marker:
  // the library was handed a substitute one.
  bool DataEnded() const { return m_endReached; }

  // The next byte of the data handed to the library, for marker processors;
  // -1 once the data has ended.
  static int NextByte(j_decompress_ptr info);

private:
  // What the library is given next: bytes supplied by the source, a number
  // of file bytes, or the rest of the file unchanged, with its 16-bit words
  // exchanged, or with the marker codes of the SFW94A wrapper translated.
  enum class TStepKind { Supply, FileBytes, FileRest, SwappedRest, SfwRest };
  struct TStep {
    TStepKind kind;
    size_t offset; // Supply: start in m_supplied
    int64_t count; // Supply: bytes in m_supplied; FileBytes: file bytes left
  };
  // The manager the library holds, with the way back to this object.
  struct TManager {
    jpeg_source_mgr pub;
    TJpegSource* owner;
  };

  static TJpegSource& From(j_decompress_ptr info);
  static void InitSource(j_decompress_ptr info);
  static boolean FillInputBuffer(j_decompress_ptr info);
  static void SkipInputData(j_decompress_ptr info, long count);
  static void TermSource(j_decompress_ptr info);

  void Fill(j_decompress_ptr info);
  void Hand(const uint8_t* data, size_t count);
  void HandEnd(j_decompress_ptr info);

  // File access below the library's view: mapped blocks consumed in order.
  bool MapMore();
  int FileByte();
  int32_t FileBlock(int64_t limit, const uint8_t** data);
  void SkipFile(int64_t count);
  bool SkipPast(uint8_t first, uint8_t second);

  // Planning of the corrected stream from the first bytes of the data.
  void Plan();
  void PlanContainer();
  void PlanBmWrapper();
  void PlanSfw();
  void Supply(std::initializer_list<uint8_t> bytes);
  void Supply(const uint8_t* bytes, size_t count);
  void SupplyJfif(uint16_t xDensity, uint16_t yDensity);
  void SupplyStandardTables(bool oneSegment);
  void SupplyQuantisationPair(const uint8_t* table0, const uint8_t* table1);
  void SupplyFile(int64_t count);
  void AddStep(TStepKind kind, int64_t count = 0);

  // Producers of transformed data into m_work.
  size_t ProduceSwapped();
  size_t ProduceSfw();

  TManager m_manager{};
  TPkgStream* m_stream;
  const uint8_t* m_block = nullptr;
  int32_t m_blockLeft = 0;
  bool m_fileEnded = false;
  bool m_planned = false;
  bool m_bottomUp = false;
  bool m_halfHeight = false;
  bool m_endReached = false;
  std::vector<uint8_t> m_supplied;
  std::vector<TStep> m_plan;
  size_t m_stepIndex = 0;
  std::vector<uint8_t> m_work;
};

#include "core/colour_reduction.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// The quantiser is a private module of the JPEG library; its entry point is
// exported but declared only in the library's internal header.
#define JPEG_INTERNALS
#include <jpeglib.h>

#include "core/dither.h"
#include "core/image.h"
#include "core/progress.h"

namespace {

struct TErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Palette entries as the quantiser holds them: component 0 blue, 1 green,
// 2 red, because the rows it sees are blue, green, red.
struct TMapEntry {
  int32_t component[3];
  uint64_t population;
};

// A decompression object that decodes nothing: it only hosts the library's
// two-pass colour quantiser, which expects the object the library's master
// control would have prepared. Every method that calls into the library
// catches the library's error exit and answers false; no method keeps
// objects with destructors alive across such a call.
class TQuantiserHost {
public:
  TQuantiserHost() = default;
  ~TQuantiserHost() { jpeg_destroy_decompress(&m_cinfo); }
  TQuantiserHost(const TQuantiserHost&) = delete;
  TQuantiserHost& operator=(const TQuantiserHost&) = delete;

  bool Start(int32_t width, int32_t height, int32_t colours, bool diffuse) {
    m_cinfo.err = jpeg_std_error(&m_error.pub);
    m_error.pub.error_exit = OnJpegError;
    m_error.pub.output_message = IgnoreJpegMessage;
    if (setjmp(m_error.jump)) return false;
    jpeg_create_decompress(&m_cinfo);
    m_cinfo.output_width = static_cast<JDIMENSION>(width);
    m_cinfo.output_height = static_cast<JDIMENSION>(height);
    // Blue, green, red rows: the quantiser weighs distances by colour
    // (green 3, red 2, blue 1) and needs to know which component is which.
    m_cinfo.out_color_space = JCS_EXT_BGR;
    m_cinfo.out_color_components = 3;
    m_cinfo.output_components = 3;
    m_cinfo.quantize_colors = TRUE;
    m_cinfo.two_pass_quantize = TRUE;
    m_cinfo.enable_2pass_quant = TRUE;
    m_cinfo.desired_number_of_colors = colours;
    m_cinfo.dither_mode = diffuse ? JDITHER_FS : JDITHER_NONE;
    PrepareRangeLimit();
    jinit_2pass_quantizer(&m_cinfo);
    m_cinfo.cquantize->start_pass(&m_cinfo, TRUE);
    return true;
  }

  bool CountRow(JSAMPROW row) {
    if (setjmp(m_error.jump)) return false;
    m_cinfo.cquantize->color_quantize(&m_cinfo, &row, nullptr, 1);
    return true;
  }

  // Ends the histogram pass: the library selects the colour map.
  bool SelectColours() {
    if (setjmp(m_error.jump)) return false;
    m_cinfo.cquantize->finish_pass(&m_cinfo);
    return true;
  }

  int32_t ColourCount() const { return m_cinfo.actual_number_of_colors; }
  uint8_t Component(int32_t index, int32_t component) const {
    return m_cinfo.colormap[component][index];
  }
  void SetEntry(int32_t index, const TMapEntry& entry) {
    for (int c = 0; c < 3; ++c) {
      m_cinfo.colormap[c][index] = static_cast<JSAMPLE>(entry.component[c]);
    }
  }
  void SetColourCount(int32_t count) { m_cinfo.actual_number_of_colors = count; }

  // Starts a mapping pass; a new colour map must be announced so that the
  // library rebuilds its inverse map.
  bool StartMapping(bool diffuse, bool mapChanged) {
    if (setjmp(m_error.jump)) return false;
    m_cinfo.dither_mode = diffuse ? JDITHER_FS : JDITHER_NONE;
    if (mapChanged) m_cinfo.cquantize->new_color_map(&m_cinfo);
    m_cinfo.cquantize->start_pass(&m_cinfo, FALSE);
    return true;
  }

  bool MapRow(JSAMPROW in, JSAMPROW out) {
    if (setjmp(m_error.jump)) return false;
    m_cinfo.cquantize->color_quantize(&m_cinfo, &in, &out, 1);
    return true;
  }

private:
  // The mapping pass clamps values plus errors through sample_range_limit,
  // which only the library's master control normally fills. This builds it
  // in the library's layout: MAXJSAMPLE + 1 zeros below the pointer, the
  // identity, saturation at MAXJSAMPLE, then the wrap-around part used by the
  // inverse transform (not reached here, but kept in shape).
  void PrepareRangeLimit() {
    constexpr int kSamples = MAXJSAMPLE + 1;
    auto* table = static_cast<JSAMPLE*>(
        m_cinfo.mem->alloc_small(reinterpret_cast<j_common_ptr>(&m_cinfo), JPOOL_IMAGE,
                                 (5 * kSamples + CENTERJSAMPLE) * sizeof(JSAMPLE)));
    table += kSamples;
    m_cinfo.sample_range_limit = table;
    std::memset(table - kSamples, 0, kSamples * sizeof(JSAMPLE));
    for (int i = 0; i < kSamples; ++i) table[i] = static_cast<JSAMPLE>(i);
    JSAMPLE* upper = table + CENTERJSAMPLE;
    for (int i = CENTERJSAMPLE; i < 2 * kSamples; ++i) upper[i] = MAXJSAMPLE;
    std::memset(upper + 2 * kSamples, 0, (2 * kSamples - CENTERJSAMPLE) * sizeof(JSAMPLE));
    std::memcpy(upper + 4 * kSamples - CENTERJSAMPLE, table, CENTERJSAMPLE * sizeof(JSAMPLE));
  }

  jpeg_decompress_struct m_cinfo{};
  TErrorManager m_error{};
};

// Weighted squared distance the library itself uses: green counts three
// times, red twice, blue once.
int64_t MapDistance(const TMapEntry& a, const TMapEntry& b) {
  static constexpr int kScale[3] = {1, 3, 2};
  int64_t sum = 0;
  for (int c = 0; c < 3; ++c) {
    const int64_t d = (a.component[c] - b.component[c]) * kScale[c];
    sum += d * d;
  }
  return sum;
}

// Merges a colour map down to count entries, always joining the pair whose
// merge adds the least squared error (Ward's rule) into their
// population-weighted mean.
void MergeColourMap(std::vector<TMapEntry>& entries, size_t count) {
  while (entries.size() > count) {
    size_t bestA = 0;
    size_t bestB = 1;
    double bestCost = -1;
    for (size_t a = 0; a < entries.size(); ++a) {
      for (size_t b = a + 1; b < entries.size(); ++b) {
        const double na = static_cast<double>(entries[a].population) + 1;
        const double nb = static_cast<double>(entries[b].population) + 1;
        const double cost =
            na * nb / (na + nb) * static_cast<double>(MapDistance(entries[a], entries[b]));
        if (bestCost < 0 || cost < bestCost) {
          bestCost = cost;
          bestA = a;
          bestB = b;
        }
      }
    }
    TMapEntry& a = entries[bestA];
    const TMapEntry& b = entries[bestB];
    const uint64_t total = a.population + b.population;
    for (int c = 0; c < 3; ++c) {
      a.component[c] = total == 0
                           ? (a.component[c] + b.component[c] + 1) / 2
                           : static_cast<int32_t>((a.component[c] * a.population +
                                                   b.component[c] * b.population + total / 2) /
                                                  total);
    }
    a.population = total;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(bestB));
  }
}

// Where rows come from: the picture's output rows, passed through the
// converter (tone tables, indices expanded) when there is one, as blue,
// green, red.
class TRowSource {
public:
  TRowSource(const TImage& image, const TDither* converter)
      : m_image(image), m_converter(converter) {
    int32_t right = 0;
    int32_t bottom = 0;
    image.OutputRect(m_left, m_top, right, bottom);
    m_width = right - m_left;
    m_height = bottom - m_top;
    m_row.resize(static_cast<size_t>(std::max(m_width, 1)) * 3);
  }
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }

  // The row as stored: indices for an 8-bit picture.
  uint8_t* Raw(int32_t row) {
    m_image.OutputRow(m_left, m_top + row, m_row.data(), m_width);
    return m_row.data();
  }
  uint8_t* Colours(int32_t row) {
    Raw(row);
    if (m_converter) m_converter->ConvertRow(m_row.data(), m_width, 3, m_image.BytesPerPixel());
    return m_row.data();
  }

private:
  const TImage& m_image;
  const TDither* m_converter;
  int32_t m_left = 0;
  int32_t m_top = 0;
  int32_t m_width = 0;
  int32_t m_height = 0;
  std::vector<uint8_t> m_row;
};

int32_t Percent(int32_t base, int32_t span, int32_t done, int32_t total) {
  return base + static_cast<int32_t>(static_cast<int64_t>(done) * span / std::max(total, 1));
}

bool CallHeader(const TReductionWriters& writers, int32_t width, int32_t height, int32_t count,
                const uint8_t* bgr) {
  return !writers.header || writers.header(width, height, count, bgr);
}

bool CallTrailer(const TReductionWriters& writers) { return !writers.trailer || writers.trailer(); }

// Walks rows in pass order, handing each row's indices to the row writer,
// with progress from base over span percent (none when span is 0). The
// indices come from produce(row), which answers nullptr on failure.
TReduceResult WriteRows(int32_t height, TRowOrder order, int32_t width, int32_t base, int32_t span,
                        const TReductionWriters& writers,
                        const std::function<const uint8_t*(int32_t row)>& produce) {
  TReduceResult result = TReduceResult::Ok;
  int32_t done = 0;
  ForEachRowInPassOrder(height, order, [&](int32_t row) {
    const uint8_t* indices = produce(row);
    if (!indices) {
      result = TReduceResult::NoMemory;
    } else if (!writers.row(indices, width)) {
      result = TReduceResult::WriterFailed;
    } else if (span > 0 && ProgressReport(Percent(base, span, ++done, height)) != 0) {
      result = TReduceResult::Aborted;
    }
    return result == TReduceResult::Ok;
  });
  return result;
}

TReduceResult PassThrough(TRowSource& source, const TLogPalette& palette, TRowOrder order,
                          const TReductionWriters& writers) {
  std::array<uint8_t, 256 * 3> bgr{};
  for (int i = 0; i < palette.count; ++i) {
    bgr[3 * i] = palette.entries[i].blue;
    bgr[3 * i + 1] = palette.entries[i].green;
    bgr[3 * i + 2] = palette.entries[i].red;
  }
  if (!CallHeader(writers, source.Width(), source.Height(), palette.count, bgr.data())) {
    return TReduceResult::WriterFailed;
  }
  if (writers.row) {
    const TReduceResult result = WriteRows(source.Height(), order, source.Width(), 0, 100, writers,
                                           [&](int32_t row) { return source.Raw(row); });
    if (result != TReduceResult::Ok) return result;
  }
  return CallTrailer(writers) ? TReduceResult::Ok : TReduceResult::WriterFailed;
}

// Counts how many pixels map to each entry without diffusion, as weights for
// merging the map further.
bool CountPopulations(TQuantiserHost& host, TRowSource& source, std::vector<TMapEntry>& entries) {
  if (!host.StartMapping(false, false)) return false;
  std::vector<uint8_t> indices(static_cast<size_t>(source.Width()));
  for (int32_t row = 0; row < source.Height(); ++row) {
    if (!host.MapRow(source.Colours(row), indices.data())) return false;
    for (uint8_t index : indices) ++entries[index].population;
  }
  return true;
}

// Brings the selected map down to count entries when the library could not
// select that few itself. Returns false on a library failure.
bool ShrinkColourMap(TQuantiserHost& host, TRowSource& source, int32_t count) {
  const int32_t selected = host.ColourCount();
  if (selected <= count) return true;
  std::vector<TMapEntry> entries(static_cast<size_t>(selected));
  for (int32_t i = 0; i < selected; ++i) {
    for (int c = 0; c < 3; ++c) entries[i].component[c] = host.Component(i, c);
  }
  if (!CountPopulations(host, source, entries)) return false;
  MergeColourMap(entries, static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) host.SetEntry(i, entries[i]);
  host.SetColourCount(count);
  return true;
}

// The mapping pass. Diffusion carries each row's error into the next row of
// the picture, so an interlaced picture is mapped whole in picture order and
// only then written in pass order; mapping rows in pass order would push the
// errors into rows four or eight lines away.
TReduceResult MapAndWrite(TQuantiserHost& host, TRowSource& source, TRowOrder order,
                          bool mapChanged, const TReductionWriters& writers) {
  const int32_t width = source.Width();
  const int32_t height = source.Height();
  if (!host.StartMapping(true, mapChanged)) return TReduceResult::NoMemory;
  if (order == TRowOrder::Sequential) {
    std::vector<uint8_t> indices(static_cast<size_t>(width));
    return WriteRows(height, order, width, 50, 50, writers, [&](int32_t row) -> const uint8_t* {
      return host.MapRow(source.Colours(row), indices.data()) ? indices.data() : nullptr;
    });
  }
  std::vector<uint8_t> picture;
  try {
    picture.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    return TReduceResult::NoMemory;
  }
  for (int32_t row = 0; row < height; ++row) {
    if (!host.MapRow(source.Colours(row), &picture[static_cast<size_t>(row) * width])) {
      return TReduceResult::NoMemory;
    }
    if (ProgressReport(Percent(50, 50, row + 1, height)) != 0) return TReduceResult::Aborted;
  }
  return WriteRows(height, order, width, 100, 0, writers, [&](int32_t row) -> const uint8_t* {
    return &picture[static_cast<size_t>(row) * width];
  });
}

TReduceResult Quantise(TRowSource& source, TRowOrder order, int32_t colourCount,
                       const TReductionWriters& writers) {
  const bool mapRows = static_cast<bool>(writers.row);
  const int32_t width = source.Width();
  const int32_t height = source.Height();
  auto host = std::make_unique<TQuantiserHost>();
  if (!host->Start(width, height, std::max(colourCount, kQuantiserMinColours), mapRows)) {
    return TReduceResult::NoMemory;
  }

  const int32_t histogramSpan = mapRows ? 50 : 100;
  for (int32_t row = 0; row < height; ++row) {
    if (!host->CountRow(source.Colours(row))) return TReduceResult::NoMemory;
    if (ProgressReport(Percent(0, histogramSpan, row + 1, height)) != 0)
      return TReduceResult::Aborted;
  }
  if (!host->SelectColours()) return TReduceResult::NoMemory;
  const bool shrink = host->ColourCount() > colourCount;
  if (!ShrinkColourMap(*host, source, colourCount)) return TReduceResult::NoMemory;

  const int32_t count = host->ColourCount();
  std::array<uint8_t, 256 * 3> bgr{};
  for (int32_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) bgr[3 * i + c] = host->Component(i, c);
  }
  if (!CallHeader(writers, width, height, count, bgr.data())) return TReduceResult::WriterFailed;

  if (mapRows) {
    const TReduceResult result = MapAndWrite(*host, source, order, shrink, writers);
    if (result != TReduceResult::Ok) return result;
  }
  return CallTrailer(writers) ? TReduceResult::Ok : TReduceResult::WriterFailed;
}

} // namespace

bool ForEachRowInPassOrder(int32_t height, TRowOrder order,
                           const std::function<bool(int32_t row)>& visit) {
  static constexpr int32_t kSequentialStart[] = {0};
  static constexpr int32_t kSequentialStep[] = {1};
  static constexpr int32_t kInterlacedStart[] = {0, 4, 2, 1};
  static constexpr int32_t kInterlacedStep[] = {8, 8, 4, 2};
  const bool interlaced = order == TRowOrder::Interlaced;
  const int32_t* starts = interlaced ? kInterlacedStart : kSequentialStart;
  const int32_t* steps = interlaced ? kInterlacedStep : kSequentialStep;
  const int passes = interlaced ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t row = starts[pass]; row < height; row += steps[pass]) {
      if (!visit(row)) return false;
    }
  }
  return true;
}

TReduceResult ReduceColours(const TImage& image, TDither* dither, TRowOrder order,
                            int32_t colourCount, const TReductionWriters& writers) {
  colourCount = std::clamp(colourCount, 1, 256);

  // An 8-bit picture without a ditherer prepared from its palette is
  // converted through its own palette, untouched by tone.
  std::unique_ptr<TDither> ownConverter;
  const TDither* converter = dither;
  if (image.BytesPerPixel() == 1 && !(converter && converter->HasIndexedSource())) {
    TLogPalette palette;
    image.GetPalette(palette);
    ownConverter = std::make_unique<TDither>();
    ownConverter->SetSourcePalette(&palette, TDitherTarget::Display, TColourMode::Colour,
                                   TToneSettings{});
    converter = ownConverter.get();
  }

  TRowSource source(image, converter);
  if (image.BytesPerPixel() == 1) {
    TLogPalette palette;
    converter->GetSourcePalette(palette);
    if (palette.count <= colourCount) return PassThrough(source, palette, order, writers);
  }
  return Quantise(source, order, colourCount, writers);
}

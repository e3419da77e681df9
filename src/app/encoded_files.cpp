// Decode and Encode. Decode reads the chosen text a line at a time with the
// same recognisers and decoders as the encoded-file layer and writes each
// decoded file beside the text; Encode writes the uuencoded sections that
// Decode (or uudecode) reads back.
#include "app/encoded_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "app/package_settings.h"
#include "filepkg/encoded_text.h"
#include "filepkg/filepkg.h"

namespace {

// Decode keeps longer lines than the layer: 255 characters.
constexpr size_t kMaxLineLength = 255;
constexpr int kMaxPart = 99;
constexpr size_t kShortNameLength = 50;
// Decoded bytes go to the output in blocks of this size.
constexpr size_t kWriteBlock = 1 << 20;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }
std::string LeafOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Where a leaf's extension starts (its '.'), or its end without one.
size_t ExtensionAt(const std::string& leaf) {
  size_t dot = leaf.rfind('.');
  return dot == std::string::npos || dot == 0 ? leaf.size() : dot;
}

// Part i of a name: the last character of its extension replaced by the
// digit (parts 2 to 9) or the last two by the two digits (from part 10); an
// extension too short for that becomes '.' and the digits.
std::string PartName(const std::string& name, int part) {
  const size_t leafAt = name.rfind('/') + 1;
  const size_t dot = leafAt + ExtensionAt(name.substr(leafAt));
  const std::string digits = std::to_string(part);
  if (name.size() - dot <= digits.size()) return name.substr(0, dot) + "." + digits;
  return name.substr(0, name.size() - digits.size()) + digits;
}

bool ExtensionEndsInDigit(const std::string& name) {
  const std::string leaf = LeafOf(name);
  return ExtensionAt(leaf) < leaf.size() && std::isdigit(static_cast<unsigned char>(leaf.back()));
}

// The file a header names, beside the encoded text; a header that names only
// an extension keeps the text's own name before it.
std::string OutputFor(const std::string& part, const std::string& headerName) {
  std::string leaf = headerName.substr(headerName.find_last_of("/\\") + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") leaf = ".dat";
  std::string partLeaf = LeafOf(part);
  if (leaf[0] == '.') leaf = partLeaf.substr(0, ExtensionAt(partLeaf)) + leaf;
  return FolderOf(part) + leaf;
}

bool Write(TPkgStream* out, std::string_view text) { return PkgWrite(text.data(), 1, text.size(), out) == text.size(); }

// The name of section i of the uuencoded source: ".uue", then ".uu2" to
// ".uu9", then ".u10" and on, in place of the source's extension.
std::string SectionName(const std::string& source, int section) {
  const size_t leafAt = source.rfind('/') + 1;
  std::string name = source.substr(0, leafAt + ExtensionAt(source.substr(leafAt))) + ".uue";
  return section == 1 ? name : PartName(name, section);
}

} // namespace

std::string ShortName(const std::string& name) {
  if (name.size() <= kShortNameLength) return name;
  std::string end = name.substr(name.size() - (kShortNameLength - 3));
  size_t slash = end.find('/');
  if (slash != std::string::npos) end = end.substr(slash);
  return "..." + end;
}

TDecode::TDecode(TLineSink log) : m_log(std::move(log)) {}

TDecode::~TDecode() { Finish(); }

void TDecode::Write(void* context, const uint8_t* bytes, size_t count) {
  auto* decode = static_cast<TDecode*>(context);
  if (!decode->m_output && !decode->m_outputFailed) {
    decode->m_output = PkgOpen(decode->m_outputName.c_str(), "wb");
    decode->m_outputFailed = decode->m_output == nullptr;
    decode->m_log((decode->m_output ? "Created " : "Unable to open ") + ShortName(decode->m_outputName));
  }
  if (!decode->m_output) return;
  decode->m_pending.append(reinterpret_cast<const char*>(bytes), count);
  if (decode->m_pending.size() >= kWriteBlock) decode->WritePending();
}

void TDecode::WritePending() {
  if (!m_writeFailed && PkgWrite(m_pending.data(), 1, m_pending.size(), m_output) != m_pending.size())
    m_writeFailed = true;
  m_pending.clear();
}

// Closes the output; one closed before its decoder reached the end is
// reported when that decoder knows where its data end.
void TDecode::CloseOutput(bool complete) {
  if (m_output) {
    WritePending();
    // A file that could not be written whole (a full disk, a size limit) is
    // given up, and the log says so instead of having reported it created.
    const bool failed = m_writeFailed;
    m_writeFailed = false;
    if (PkgClose(m_output, failed ? kPkgAbandon : kPkgKeep) != 0 || failed)
      m_log("Error writing " + ShortName(m_outputName));
    else if (!complete && m_decoder && m_decoder->EndsShort() && m_decoder->Kind() != TEncoding::Base64)
      m_log("Error decoding, wrote a short file");
  }
  m_output = nullptr;
  m_decoder.reset();
}

bool TDecode::DecodePart(const std::string& part) {
  TPkgStream* text = PkgOpen(part.c_str(), "rb");
  if (!text) return false;
  m_log("Decoding " + ShortName(part));
  if (!m_output) m_outputName = OutputFor(part, ".dat");
  TLineReader reader(text, kMaxLineLength, true);
  std::string_view line;
  while (reader.Next(line)) {
    std::string header = HeaderName(line);
    TEncoding start = StartOf(line, m_decoder ? m_decoder->Kind() : TEncoding::None);
    if (m_output && (!header.empty() || start != TEncoding::None)) CloseOutput(false);
    if (!header.empty()) m_outputName = OutputFor(part, header);
    if (!m_decoder && start != TEncoding::None) m_decoder = MakeDecoder(start, Write, this);
    if (!m_decoder) continue;
    bool ended = m_decoder->Feed(line);
    // An output that could not be made drops its decoder.
    if (m_outputFailed) {
      m_outputFailed = false;
      m_decoder.reset();
    } else if (ended) {
      CloseOutput(true);
    }
  }
  PkgClose(text, kPkgKeep);
  return !reader.Stopped();
}

bool TDecode::DecodeFile(const std::string& chosen) {
  for (int part = 1; part <= kMaxPart; ++part) {
    // A continuation is looked for after a part with a number, or while a
    // file is still being decoded.
    if (part > 1 && !m_decoder && !ExtensionEndsInDigit(chosen)) break;
    std::string name = part == 1 ? chosen : PartName(chosen, part);
    TPkgStream* probe = PkgOpen(name.c_str(), "rb");
    if (!probe) break;
    PkgClose(probe, kPkgKeep);
    if (!DecodePart(name)) return false;
  }
  return true;
}

void TDecode::Finish() { CloseOutput(false); }

bool EncodeFile(const std::string& source, int32_t lines, const TLineSink& log) {
  TPkgStream* in = PkgOpen(source.c_str(), "rb");
  if (!in) return false;
  log("Encoding " + ShortName(source));
  PkgSeek(in, 0, SEEK_END);
  const int64_t size = PkgTell(in);
  PkgSeek(in, 0, SEEK_SET);
  const int64_t perLine = static_cast<int64_t>(kUuLineBytes);
  int64_t sections = size / (perLine * std::max(lines, 1)) + 1;
  int64_t linesPerSection = size / (perLine * sections) + 1;
  while (sections >= 100) {
    sections /= 2;
    linesPerSection = 2 * linesPerSection + 1;
  }
  const std::string leaf = LeafOf(source);
  bool good = true;
  bool dataEnded = false;
  for (int section = 1; good && !dataEnded; ++section) {
    const std::string name = SectionName(source, section);
    TPkgStream* out = PkgOpen(name.c_str(), "wb");
    if (!out) {
      good = false;
      break;
    }
    log("Created " + ShortName(name));
    char header[600];
    std::snprintf(header, sizeof header, kEncodeHeader, section, static_cast<int>(sections), leaf.c_str());
    good = Write(out, header) && (section > 1 || Write(out, "begin 644 " + leaf + "\r\n"));
    for (int64_t line = 0; good && line <= linesPerSection; ++line) {
      uint8_t bytes[kUuLineBytes];
      size_t count = PkgRead(bytes, 1, sizeof bytes, in);
      if (count == 0) {
        dataEnded = true;
        break;
      }
      good = Write(out, UuencodeLine(bytes, count));
    }
    if (good && dataEnded) good = Write(out, "`\r\nend\r\n");
    good = good && Write(out, header);
    if (PkgClose(out, good ? kPkgKeep : kPkgAbandon) != 0) good = false;
  }
  PkgClose(in, kPkgKeep);
  return good;
}

// zerbalin-tool decode and convert: the reader entry and the writer entry
// from the command line.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "commands.h"
#include "core/display_palette.h"
#include "core/dither.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/picture_io.h"

namespace {

// The stored picture as binary PPM, top row first, palette indices expanded
// to their colours and blue-green-red pixels turned into red-green-blue.
bool WritePpm(const char* path, const TImage& image) {
  const int32_t width = image.Width();
  const int32_t height = image.Height();
  TLogPalette palette;
  image.GetPalette(palette);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  TPkgStream* out = PkgOpen(path, "wb");
  if (!out) return false;
  const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  bool written = PkgWrite(header.data(), 1, header.size(), out) == header.size();
  for (int32_t y = 0; written && y < height; ++y) {
    const uint8_t* source = image.Row(y);
    uint8_t* target = row.data();
    if (image.BytesPerPixel() == 1) {
      for (int32_t x = 0; x < width; ++x, target += 3) {
        const TPaletteEntry& entry = palette.entries[source[x]];
        target[0] = entry.red;
        target[1] = entry.green;
        target[2] = entry.blue;
      }
    } else {
      for (int32_t x = 0; x < width; ++x, source += 3, target += 3) {
        target[0] = source[2];
        target[1] = source[1];
        target[2] = source[0];
      }
    }
    written = PkgWrite(row.data(), 1, row.size(), out) == row.size();
  }
  return PkgClose(out, written ? kPkgKeep : kPkgAbandon) == 0 && written;
}

// decode NAME OUT.ppm: prints the format the reader entry found and writes
// the picture it left.
int RunDecode(int argc, char** argv) {
  if (argc != 3) return ToolFail("usage: decode NAME OUT.ppm");
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  const char* result = ReadPicture(argv[1], *image, options);
  std::printf("%s\n", result);
  if (!WritePpm(argv[2], *image)) return ToolFail("cannot write %s", argv[2]);
  if (std::strcmp(result, "???") == 0) return ToolFail("%s: not a picture this program reads", argv[1]);
  return 0;
}

// A settings switch is '-' or '/' followed by a name of letters and digits
// that begins with a letter, then optionally '=' and a value: -Name,
// /Name=value. Anything else, such as /home/me/a.gif, is a file name.
bool IsSwitch(const char* argument) {
  if ((argument[0] != '-' && argument[0] != '/') || !std::isalpha(static_cast<unsigned char>(argument[1])))
    return false;
  const char* end = argument + 1;
  while (std::isalnum(static_cast<unsigned char>(*end))) ++end;
  return *end == '\0' || *end == '=';
}

// Applies one switch; false when it names no setting.
bool ApplySwitch(TProfile& options, const char* argument) {
  std::string name = argument + 1;
  std::string value;
  if (const size_t equals = name.find('='); equals != std::string::npos) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  return options.SetByName(name.c_str(), value.c_str());
}

// convert IN OUT [-Key=Value ...]: reads IN and saves OUT in the format its
// extension names, else the one SaveAsIndex names.
int RunConvert(int argc, char** argv) {
  TProfile options;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (!IsSwitch(argv[i]))
      files.push_back(argv[i]);
    else if (!ApplySwitch(options, argv[i]))
      return ToolFail("no setting matches %s", argv[i]);
  }
  if (files.size() != 2) return ToolFail("usage: convert IN OUT [-Key=Value ...]");
  std::unique_ptr<TImage> image = NewImageFor(options);
  if (std::strcmp(ReadPicture(files[0], *image, options), "???") == 0)
    return ToolFail("%s: not a picture this program reads", files[0]);
  PrepareLoadedPicture(*image, options.Get(IntKey::SortPalette) ? TPaletteSort::Sort : TPaletteSort::Keep);
  // The writers take the picture's colours from the ditherer, after the tone
  // settings, as they do when saving what the viewer shows.
  TDither ditherer(options.Get(IntKey::DitherQuality));
  TLogPalette palette;
  image->GetPalette(palette);
  const TToneSettings tone{options.Get(IntKey::Brightness), options.Get(IntKey::Contrast),
                           options.Get(IntKey::Invert), options.Get(IntKey::EnableColorInvert)};
  ditherer.SetSourcePalette(image->BytesPerPixel() == 1 ? &palette : nullptr, TDitherTarget::Display,
                            options.Get(IntKey::DisplayInColor) ? TColourMode::Colour : TColourMode::Grey, tone);
  if (SavePicture(files[1], options.Get(IntKey::SaveAsIndex), *image, options, &ditherer) != 0)
    return ToolFail("cannot save %s", files[1]);
  return 0;
}

const TToolCommand kDecode("decode", "decode NAME OUT.ppm", RunDecode);
const TToolCommand kConvert("convert", "convert IN OUT [-Key=Value ...]", RunConvert);

} // namespace

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
#include "ppm.h"

namespace {

// decode NAME OUT.ppm: prints the format the reader entry found and writes
// the picture it left. OUT "-" is standard output, and the format then goes
// to standard error so that the picture stays whole.
int RunDecode(int argc, char** argv) {
  if (argc != 3) return ToolFail("usage: decode NAME OUT.ppm|-");
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  const char* result = ReadPicture(argv[1], *image, options);
  std::fprintf(std::strcmp(argv[2], "-") == 0 ? stderr : stdout, "%s\n", result);
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

const TToolCommand kDecode("decode", "decode NAME OUT.ppm|-", RunDecode);
const TToolCommand kConvert("convert", "convert IN OUT [-Key=Value ...]", RunConvert);

} // namespace

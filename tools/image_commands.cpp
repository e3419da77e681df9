// zerbalin-tool decode and convert: the reader entry and the writer entry
// from the command line.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_setup.h"
#include "commands.h"
#include "core/display_palette.h"
#include "core/dither.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/picture_io.h"
#include "ppm.h"

namespace {

// The picture named by the first of a command's two operands IN and OUT, read
// with the command's settings. nullptr after a message when the arguments are
// not right or there is no picture worth saving; format then still receives
// the reader's format word once a read was tried.
std::unique_ptr<TImage> ReadInput(int argc, char** argv, TCommandStart& start, const char*& format) {
  if (!StartCommand(argc, argv, 2, start)) return nullptr;
  std::unique_ptr<TImage> image = NewImageFor(start.settings);
  TReadOutcome outcome;
  const char* name = start.operands[0];
  format = ReadPicture(name, *image, start.settings, &outcome);
  if (const TReadFailure* failure = ReadFailure(outcome)) {
    ToolFail(failure->message, name);
    return nullptr;
  }
  if (outcome == TReadOutcome::Partial) ToolNote("%s: only part of the picture could be read", name);
  return image;
}

// decode NAME OUT.ppm: prints the format the reader entry found and writes
// the picture it read. OUT is left alone when nothing was read. OUT "-" is
// standard output, and the format then goes to standard error so that the
// picture stays whole.
int RunDecode(int argc, char** argv) {
  TCommandStart start;
  const char* format = nullptr;
  std::unique_ptr<TImage> image = ReadInput(argc, argv, start, format);
  const bool toStandardOutput = start.operands.size() == 2 && std::strcmp(start.operands[1], "-") == 0;
  if (format) std::fprintf(toStandardOutput ? stderr : stdout, "%s\n", format);
  if (!image) return 1;
  if (!WritePpm(start.operands[1], *image)) return ToolFail("cannot write %s", start.operands[1]);
  return 0;
}

// convert IN OUT [-Key=Value ...]: reads IN and saves OUT in the format its
// extension names, else the one SaveAsIndex names. OUT is left alone when
// nothing was read, so converting an unreadable file onto itself keeps it.
int RunConvert(int argc, char** argv) {
  TCommandStart start;
  const char* format = nullptr;
  std::unique_ptr<TImage> image = ReadInput(argc, argv, start, format);
  if (!image) return 1;
  const TProfile& options = start.settings;
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
  const char* out = start.operands[1];
  switch (SavePicture(out, options.Get(IntKey::SaveAsIndex), *image, options, &ditherer)) {
  case kSaveWritten:
    return 0;
  case kSaveStopped:
    return ToolFail("saving %s was stopped; the file is as it was", out);
  default:
    return ToolFail("cannot save %s", out);
  }
}

const TToolCommand kDecode("decode", "decode NAME OUT.ppm|- [-Key=Value ...]", RunDecode);
const TToolCommand kConvert("convert", "convert IN OUT [-Key=Value ...]", RunConvert);

} // namespace

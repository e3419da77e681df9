#pragma once
// Helpers shared by the tests: temporary directories, running peer tools
// (ImageMagick, netpbm, djpeg, ...), reading their PNM output and comparing
// it pixel by pixel with the picture we decoded.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class TImage;

namespace testsupport {

// A fresh directory under $TMPDIR, removed with everything in it.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
  std::filesystem::path m_path;
};

// Runs a shell command; returns its exit status (-1 when it could not run).
int Run(const std::string& command);
// Runs a shell command and returns its standard output.
std::string RunOutput(const std::string& command);
bool HaveTool(const std::string& name);
// Makes a short tone as a WAV file and a few frames of test picture as an AVI
// file with GStreamer's tools; false when either could not be made.
bool MakeSoundAndMovie(const std::string& wavPath, const std::string& aviPath);

// Runs work in a child process whose files may not grow beyond maxFileBytes
// (a write past it fails instead of raising a signal). Returns the value work
// returned as the child's exit status, or -1 when the child did not exit.
int RunWithFileSizeLimit(size_t maxFileBytes, const std::function<int()>& work);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Red, green, blue pixels, top row first.
struct TRgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

// Reads a binary PNM (P4, P5 or P6 with maxval 255, or P5/P6 with maxval
// 65535, scaled to 8 bits); an empty picture when the file is not one.
TRgbPicture ReadPnm(const std::string& path);
bool WritePpm(const std::string& path, const TRgbPicture& picture);
// The picture ImageMagick decodes from a file ("convert FILE[frame] -depth 8 ppm:-").
TRgbPicture PeerDecode(const std::string& path, const std::string& convertOptions = "");
// The stored picture of an image expanded through its palette.
TRgbPicture ImageToRgb(const TImage& image);

// Empty when equal; otherwise the sizes or the first differing pixel.
std::string CompareRgb(const TRgbPicture& expected, const TRgbPicture& actual, int tolerance = 0);
// Mean absolute difference per channel.
double MeanError(const TRgbPicture& a, const TRgbPicture& b);

} // namespace testsupport

#include "support/peer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>

#include "core/image.h"

namespace testsupport {

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zertest-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data())) m_path = buffer.data();
}

TTempDir::~TTempDir() {
  std::error_code error;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
}

int Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string RunOutput(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  ::pclose(pipe);
  return output;
}

int RunWithFileSizeLimit(size_t maxFileBytes, const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const rlimit limit = {maxFileBytes, maxFileBytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    ::_exit(work());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool HaveTool(const std::string& name) { return Run("command -v " + name + " >/dev/null 2>&1") == 0; }

bool MakeSoundAndMovie(const std::string& wavPath, const std::string& aviPath) {
  return Run("gst-launch-1.0 -q audiotestsrc num-buffers=20 ! wavenc ! filesink location='" + wavPath +
             "' >/dev/null") == 0 &&
         Run("gst-launch-1.0 -q videotestsrc num-buffers=10 ! avimux ! filesink location='" + aviPath +
             "' >/dev/null") == 0;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

namespace {

// Reads the next header number of a PNM file, skipping white space and comments.
bool ReadHeaderNumber(const std::vector<uint8_t>& bytes, size_t& at, int& value) {
  while (at < bytes.size()) {
    if (bytes[at] == '#') {
      while (at < bytes.size() && bytes[at] != '\n') ++at;
    } else if (std::isspace(bytes[at])) {
      ++at;
    } else {
      break;
    }
  }
  if (at >= bytes.size() || !std::isdigit(bytes[at])) return false;
  value = 0;
  while (at < bytes.size() && std::isdigit(bytes[at])) value = value * 10 + (bytes[at++] - '0');
  return true;
}

TRgbPicture ParsePnm(const std::vector<uint8_t>& bytes) {
  TRgbPicture picture;
  if (bytes.size() < 3 || bytes[0] != 'P') return picture;
  const char kind = static_cast<char>(bytes[1]);
  if (kind != '4' && kind != '5' && kind != '6') return picture;
  size_t at = 2;
  int width = 0, height = 0, maxval = 1;
  if (!ReadHeaderNumber(bytes, at, width) || !ReadHeaderNumber(bytes, at, height)) return picture;
  if (kind != '4' && !ReadHeaderNumber(bytes, at, maxval)) return picture;
  ++at; // the single white-space character before the raster
  const int channels = kind == '6' ? 3 : 1;
  const size_t sampleBytes = maxval > 255 ? 2 : 1;
  const size_t rowBytes = kind == '4' ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * channels * sampleBytes;
  if (width <= 0 || height <= 0 || at + rowBytes * height > bytes.size()) return picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bytes.data() + at + rowBytes * y;
    for (int x = 0; x < width; ++x) {
      uint8_t* out = &picture.rgb[(static_cast<size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) {
        int value;
        if (kind == '4') {
          value = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
        } else {
          const int channel = channels == 3 ? c : 0;
          const size_t offset = (static_cast<size_t>(x) * channels + channel) * sampleBytes;
          value = sampleBytes == 2 ? (row[offset] << 8 | row[offset + 1]) : row[offset];
          value = maxval == 255 ? value : (value * 255 + maxval / 2) / maxval;
        }
        out[c] = static_cast<uint8_t>(value);
      }
    }
  }
  return picture;
}

} // namespace

TRgbPicture ReadPnm(const std::string& path) { return ParsePnm(ReadFileBytes(path)); }

bool WritePpm(const std::string& path, const TRgbPicture& picture) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P6\n" << picture.width << " " << picture.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(picture.rgb.data()), static_cast<std::streamsize>(picture.rgb.size()));
  return static_cast<bool>(out);
}

TRgbPicture PeerDecode(const std::string& path, const std::string& convertOptions) {
  const std::string command = "convert '" + path + "' " + convertOptions + " -depth 8 ppm:- 2>/dev/null";
  const std::string output = RunOutput(command);
  return ParsePnm(std::vector<uint8_t>(output.begin(), output.end()));
}

TRgbPicture ImageToRgb(const TImage& image) {
  TRgbPicture picture;
  picture.width = image.Width();
  picture.height = image.Height();
  picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
  const auto& colours = image.Bitmap().colours;
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = image.Row(y);
    uint8_t* out = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
    for (int x = 0; x < picture.width; ++x, out += 3) {
      if (image.BytesPerPixel() == 1) {
        const TRgbQuad& entry = colours[row[x]];
        out[0] = entry.red;
        out[1] = entry.green;
        out[2] = entry.blue;
      } else {
        out[0] = row[x * 3 + 2];
        out[1] = row[x * 3 + 1];
        out[2] = row[x * 3];
      }
    }
  }
  return picture;
}

std::string CompareRgb(const TRgbPicture& expected, const TRgbPicture& actual, int tolerance) {
  std::ostringstream message;
  if (expected.width != actual.width || expected.height != actual.height) {
    message << "size " << actual.width << "x" << actual.height << ", expected " << expected.width << "x"
            << expected.height;
    return message.str();
  }
  for (size_t i = 0; i < expected.rgb.size(); ++i) {
    if (std::abs(expected.rgb[i] - actual.rgb[i]) > tolerance) {
      const size_t pixel = i / 3;
      const size_t at = pixel * 3;
      message << "pixel (" << pixel % expected.width << ", " << pixel / expected.width << ") is "
              << int(actual.rgb[at]) << "," << int(actual.rgb[at + 1]) << "," << int(actual.rgb[at + 2])
              << ", expected " << int(expected.rgb[at]) << "," << int(expected.rgb[at + 1]) << ","
              << int(expected.rgb[at + 2]);
      return message.str();
    }
  }
  return {};
}

double MeanError(const TRgbPicture& a, const TRgbPicture& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
  return sum / static_cast<double>(a.rgb.size());
}

} // namespace testsupport

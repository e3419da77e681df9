#pragma once
// Helpers of the package tests: a real temporary directory removed with its
// contents afterwards, whole-file reads and writes that bypass the package,
// and guards that put named parameters and environment variables back.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filepkg/filepkg.h"

namespace pkgtest {

class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zerpkgtestXXXXXX").string();
    m_path = mkdtemp(pattern.data());
  }
  ~TTempDir() {
    std::error_code ignored;
    // Directories a test made unreadable must be opened up again to go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      if (it->is_directory(ignored)) chmod(it->path().c_str(), 0700);
    std::filesystem::remove_all(m_path, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& leaf) const { return m_path + "/" + leaf; }

private:
  std::string m_path;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool IsDirectory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

inline bool IsFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Bytes 0..n-1 of a pattern that repeats only every 251 bytes, so that a
// block read from the wrong offset shows.
inline std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

// Everything a handle reads from its position on, through PkgRead.
inline std::vector<uint8_t> ReadAll(TPkgStream* stream) {
  std::vector<uint8_t> bytes;
  uint8_t buffer[10000];
  while (size_t n = PkgRead(buffer, 1, sizeof(buffer), stream)) bytes.insert(bytes.end(), buffer, buffer + n);
  return bytes;
}

// The names of a directory listing, record by record.
inline std::vector<std::string> ListNames(const std::string& name) {
  std::vector<std::string> names;
  TPkgStream* stream = PkgOpen(name.c_str(), "rd");
  if (!stream) return names;
  char entry[kPkgRecordSize];
  while (PkgReadEntry(stream, entry)) names.emplace_back(entry);
  PkgClose(stream, 0);
  return names;
}

// Sets an integer parameter for the scope of a test and restores it after.
class TIntParamGuard {
public:
  TIntParamGuard(const char* name, int32_t value) : m_name(name), m_saved(PkgGetInt(name)) {
    PkgSetInt(name, value);
  }
  ~TIntParamGuard() { PkgSetInt(m_name, m_saved); }

private:
  const char* m_name;
  int32_t m_saved;
};

// Sets an environment variable for the scope of a test and restores it
// after (or removes it again when it was not set).
class TEnvGuard {
public:
  TEnvGuard(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_saved = old, m_had = true;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvGuard() {
    if (m_had)
      setenv(m_name, m_saved.c_str(), 1);
    else
      unsetenv(m_name);
  }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
  const char* m_name;
  std::string m_saved;
  bool m_had = false;
};

// The exit status of a child that found no way to be a user whom file
// permissions apply to.
constexpr int kNoPlainUser = 77;

// Runs checks in a child process that file permissions apply to: a child of
// root becomes the user nobody, with dir opened to it. The child reports its
// own failures. Returns its exit status: 0 when the checks passed.
template <typename TChecks>
int RunWithoutRoot(const TTempDir& dir, TChecks checks) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const uid_t nobody = 65534;
    if (geteuid() == 0 && (chmod(dir.Path().c_str(), 0777) != 0 || setgroups(0, nullptr) != 0 ||
                           setgid(nobody) != 0 || setuid(nobody) != 0))
      _exit(kNoPlainUser);
    if (access(dir.Path().c_str(), W_OK | X_OK) != 0) _exit(kNoPlainUser);
    checks();
    _exit(testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

} // namespace pkgtest

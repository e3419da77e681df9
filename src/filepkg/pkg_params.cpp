// The package's named parameters: process-wide switches, limits and
// callbacks that the application hands over once and the layers consult.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "filepkg/filepkg.h"
#include "filepkg/pkg_layers.h"

namespace {

constexpr int32_t kMaxCacheSlots = 99;
constexpr size_t kMaxPasswordLength = 63;

struct TIntParam {
  const char* name;
  int32_t value;
};

TIntParam g_intParams[] = {
    {"EnableRecycleBin", 0}, {"EnableHiddenFiles", 0}, {"EnableSystemFiles", 0},
    {"AsyncWindow", 0},      {"AsyncMessage", 0},      {"EnableFILIO", 1},
    {"EnableGIFIO", 1},      {"EnableHTMIO", 1},       {"EnableMEMIO", 1},
    {"EnableMULIO", 1},      {"EnablePWPIO", 1},       {"EnableSLIIO", 1},
    {"EnableTIFIO", 1},      {"EnableURLIO", 1},       {"EnableUUEIO", 1},
    {"EnableZIPIO", 1},      {"CacheSize", 0},         {"CacheTime", 0},
};

struct TPtrParam {
  const char* name;
  const void* value;
};

// ZipPassword is kept apart: the package holds its own copy of the string.
TPtrParam g_ptrParams[] = {
    {"EncodeHeader", nullptr}, {"AbortData", nullptr}, {"AbortProc", nullptr}, {"AsyncReturn", nullptr},
};
char g_zipPassword[kMaxPasswordLength + 1] = {};

template <typename TParam, size_t count>
TParam* Find(TParam (&params)[count], const char* name) {
  if (!name) return nullptr;
  for (TParam& param : params)
    if (strcasecmp(param.name, name) == 0) return &param;
  return nullptr;
}

bool IsPassword(const char* name) { return name && strcasecmp(name, "ZipPassword") == 0; }

} // namespace

int PkgSetInt(const char* name, int32_t value) {
  TIntParam* param = Find(g_intParams, name);
  if (!param) return 0;
  bool cacheSetting = strcasecmp(param->name, "CacheSize") == 0 || strcasecmp(param->name, "CacheTime") == 0;
  if (!cacheSetting) {
    param->value = value;
    return 0;
  }
  // A change of either cache setting drops every cached stream first; the
  // number of slots in use is then the cache size kept within its range.
  param->value = value;
  PkgFlushLayers();
  TIntParam* size = Find(g_intParams, "CacheSize");
  size->value = std::clamp(size->value, 0, kMaxCacheSlots);
  return 0;
}

int32_t PkgGetInt(const char* name) {
  const TIntParam* param = Find(g_intParams, name);
  return param ? param->value : 0;
}

int PkgSetPtr(const char* name, const void* value) {
  if (IsPassword(name)) {
    const char* text = static_cast<const char*>(value);
    size_t length = text ? strnlen(text, kMaxPasswordLength) : 0;
    std::memcpy(g_zipPassword, text ? text : "", length);
    g_zipPassword[length] = '\0';
    return 0;
  }
  if (TPtrParam* param = Find(g_ptrParams, name)) param->value = value;
  return 0;
}

const void* PkgGetPtr(const char* name) {
  if (IsPassword(name)) return g_zipPassword;
  const TPtrParam* param = Find(g_ptrParams, name);
  return param ? param->value : nullptr;
}

int PkgAbortRequested() {
  // Asked before every step of every slow layer, so the two parameters are
  // looked up once.
  static const TPtrParam* const procParam = Find(g_ptrParams, "AbortProc");
  static const TPtrParam* const dataParam = Find(g_ptrParams, "AbortData");
  // The callback is kept as a pointer parameter like the others; turning the
  // stored pointer back into a function needs its const dropped first.
  auto proc = reinterpret_cast<TPkgAbortProc>(const_cast<void*>(procParam->value));
  return proc && proc(dataParam->value) != 0 ? -1 : 0;
}

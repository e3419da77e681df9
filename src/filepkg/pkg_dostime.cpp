// DOS dates and times, the two-second time stamps of disk and ZIP entries,
// converted through the local time zone as the runtime sees it.
#include <algorithm>
#include <climits>
#include <ctime>

#include "filepkg/filepkg.h"
#include "filepkg/pkg_layers.h"

namespace {

// A DOS date counts years from 1980.
constexpr int kDosFirstYear = 1980;

int32_t ClampTime(int64_t time) { return static_cast<int32_t>(std::clamp<int64_t>(time, 0, INT32_MAX)); }

} // namespace

int32_t PkgDosToTime(uint16_t dosDate, uint16_t dosTime) {
  std::tm local{};
  local.tm_sec = 2 * (dosTime & 0x1f);
  local.tm_min = (dosTime >> 5) & 0x3f;
  local.tm_hour = dosTime >> 11;
  local.tm_mday = dosDate & 0x1f;
  local.tm_mon = ((dosDate >> 5) & 0x0f) - 1;
  local.tm_year = kDosFirstYear + (dosDate >> 9) - 1900;
  local.tm_isdst = -1;
  return ClampTime(std::mktime(&local));
}

void PkgTimeToDos(int32_t time, uint16_t* dosDate, uint16_t* dosTime) {
  std::time_t calendar = time;
  std::tm local{};
  if (!localtime_r(&calendar, &local)) local.tm_year = kDosFirstYear - 1900 - 1;
  // Before 1980 a DOS date has nothing to say; its first moment is the
  // nearest it can hold. (Calendar seconds of 32 bits end long before 2107,
  // its last year.)
  if (local.tm_year + 1900 < kDosFirstYear) {
    local = std::tm{};
    local.tm_year = kDosFirstYear - 1900;
    local.tm_mday = 1;
  }
  if (dosDate)
    *dosDate = static_cast<uint16_t>((local.tm_year + 1900 - kDosFirstYear) * 512 + (local.tm_mon + 1) * 32 +
                                     local.tm_mday);
  if (dosTime) *dosTime = static_cast<uint16_t>(local.tm_hour * 2048 + local.tm_min * 32 + local.tm_sec / 2);
}

int32_t PkgNow() { return ClampTime(std::time(nullptr)); }

int32_t PkgDosRound(int64_t time) {
  uint16_t dosDate = 0;
  uint16_t dosTime = 0;
  PkgTimeToDos(ClampTime(time), &dosDate, &dosTime);
  return PkgDosToTime(dosDate, dosTime);
}

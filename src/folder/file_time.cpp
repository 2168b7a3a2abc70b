#include "folder/file_time.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

namespace velto {

std::optional<CaptureTime> localCaptureTime(int64_t seconds, int64_t nanoseconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return std::nullopt;
  CaptureTime c;
  c.source = TimeSource::kFile;
  c.offsetSeconds = static_cast<int64_t>(local.tm_gmtoff);
  c.localSeconds = seconds + *c.offsetSeconds;
  c.nanoseconds = nanoseconds;
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d",
                static_cast<long long>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  c.text = text;
  if (nanoseconds > 0) {
    std::snprintf(text, sizeof text, ".%09lld", static_cast<long long>(nanoseconds));
    std::string fraction = text;
    while (fraction.back() == '0') fraction.pop_back();
    c.text += fraction;
  }
  const int64_t offset = *c.offsetSeconds;
  const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  std::snprintf(text, sizeof text, "%c%02lld:%02lld", offset < 0 ? '-' : '+',
                static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
  c.text += text;
  return c;
}

std::optional<CaptureTime> fileCaptureTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return localCaptureTime(static_cast<int64_t>(st.st_mtim.tv_sec),
                          static_cast<int64_t>(st.st_mtim.tv_nsec));
}

}  // namespace velto

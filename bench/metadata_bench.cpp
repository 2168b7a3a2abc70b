// velto-bench-metadata <path>...: what velto-fprint-folder spends before the photos reach the
// analysis, per photo: finding them (content sniffing included) and reading their capture
// times with Exiv2. The best of five passes (the files in the page cache after the first).
// Prints: photos N, scan MS MS_PER_PHOTO, metadata MS MS_PER_PHOTO.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "folder/photo_scan.h"
#include "metadata/capture_time.h"

using velto::bench::Clock;
using velto::bench::msSince;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velto-bench-metadata <path>...\n");
    return 1;
  }
  const std::vector<std::string> paths(argv + 1, argv + argc);
  double scanMs = 1e300, metadataMs = 1e300;
  size_t photos = 0, dated = 0;
  for (int pass = 0; pass < 5; ++pass) {
    auto start = Clock::now();
    const velto::ScanResult scan = velto::scanPaths(paths, /*recursive=*/false);
    scanMs = std::min(scanMs, msSince(start));
    start = Clock::now();
    dated = 0;
    for (const std::string& p : scan.photos) dated += velto::readCaptureTime(p) ? 1 : 0;
    metadataMs = std::min(metadataMs, msSince(start));
    photos = scan.photos.size();
  }
  const double n = photos > 0 ? static_cast<double>(photos) : 1.0;
  std::printf("photos %zu\ndated %zu\n", photos, dated);
  std::printf("scan %.2f %.3f\nmetadata %.2f %.3f\n", scanMs, scanMs / n, metadataMs,
              metadataMs / n);
  return 0;
}

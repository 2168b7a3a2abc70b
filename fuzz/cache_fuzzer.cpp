// The prints cache opening whatever a damaged cache file holds: looking up the entries the seed
// was made with, keeping a new print and closing. Nothing may crash or leak, and a print served
// must be the one kept under that file and content; a damaged file may only cost entries.
//
// The seed cache comes from this program itself: cache_fuzzer -velto_make_seed=FILE writes it
// (tools/fuzz.sh does so for a new corpus) and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cache/prints_cache.h"

namespace {

using velto::FeaturePrint;
using velto::FileFingerprint;

constexpr int64_t kNow = 1796000000;
constexpr int64_t kEntries = 8;
const std::string kRecipe = "fuzz recipe";

FileFingerprint fingerprint(int64_t n) {
  return {{7, 1000 + n, 5000 + n, n * 1000000007},
          0x9e3779b97f4a7c15ull * static_cast<uint64_t>(n + 1)};
}

FeaturePrint printOf(int64_t n) {
  FeaturePrint p{velto::kElementFloat32, std::vector<unsigned char>(417 * 4), 2 + n % 3};
  for (size_t i = 0; i < p.data.size(); ++i) p.data[i] = static_cast<unsigned char>(i * 31 + n);
  return p;
}

void removeCache(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

std::string scratchPath() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/velto-cache-fuzz-" +
         std::to_string(::getpid()) + ".sqlite3";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const std::string flag = "-velto_make_seed=";
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp((*argv)[i], flag.c_str(), flag.size()) != 0) continue;
    const std::string path = (*argv)[i] + flag.size();
    removeCache(path);
    {
      velto::PrintsCache cache(path, kRecipe, kNow);
      for (int64_t n = 0; n < kEntries; ++n) cache.store(fingerprint(n), printOf(n));
      cache.finish();
      if (cache.problem()) std::abort();
    }
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchPath();
  removeCache(path);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  {
    velto::PrintsCache cache(path, kRecipe, kNow);
    for (int64_t n = 0; n <= kEntries; ++n) {
      const std::optional<FeaturePrint> p = cache.find(fingerprint(n));
      const FeaturePrint expected = printOf(n);
      if (p && (n == kEntries || p->elementType != expected.elementType ||
                p->data != expected.data || p->recipe != expected.recipe)) {
        std::abort();  // a print that was never kept under this file
      }
    }
    cache.store(fingerprint(kEntries), printOf(kEntries));
    cache.finish();
  }
  removeCache(path);
  return 0;
}

// libFuzzer target: photo metadata on arbitrary bytes, as velto-fprint-folder meets it in a
// user's folders. The bytes are read as a photo whose capture time is wanted (through a file in
// memory: the reader takes paths) and as an existing XMP sidecar that a series keyword is merged
// into, and into which none is (the photo left its series). Nothing may be printed; a capture
// time must be a valid one that its own text gives back; a merged sidecar must read again and
// merge to no change, as a second run of the program writes nothing.
//
// Exiv2 is the system's library, as users run it, and so has no coverage instrumentation: on
// its own the fuzzer would see every input as the same few paths of ours. A probe therefore
// reads each input with Exiv2 a second time and turns what it found (the format, every Exif,
// IPTC and XMP key with its type and size, the error) into libFuzzer's extra counters, so that
// inputs reaching new tags and new parts of the formats are kept.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exiv2/exiv2.hpp>
#include <functional>
#include <optional>
#include <string>

#include "metadata/capture_time.h"
#include "metadata/xmp_sidecar.h"
#include "output_check.h"

namespace {

// Cleared by libFuzzer before every input; any non-zero counter is a feature.
constexpr size_t kProbeCounters = 1 << 14;
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t probeCounters[kProbeCounters];

void countFeature(size_t hash) {
  uint8_t& c = probeCounters[hash % kProbeCounters];
  if (c < 255) ++c;
}

size_t hashOf(const std::string& text, size_t salt) {
  return std::hash<std::string>()(text) * 31 + salt;
}

template <typename Data>
void countKeys(const Data& data, size_t salt) {
  for (const auto& d : data) {
    countFeature(hashOf(d.key(), salt + static_cast<size_t>(d.typeId()) * 7));
    countFeature(hashOf(
        d.key(), salt + 1000 + static_cast<size_t>(std::bit_width(static_cast<size_t>(d.size())))));
  }
  countFeature(salt + std::min<size_t>(data.count(), 200));
}

// What Exiv2 makes of the photo `bytes`, as features (see the top of this file).
void probeWithExiv2(const std::string& bytes) {
  try {
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(reinterpret_cast<const Exiv2::byte*>(bytes.data()),
                                                static_cast<long>(bytes.size())));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
    if (image.get() == nullptr) return;
    countFeature(static_cast<size_t>(image->imageType()));
    // What readCaptureTime keeps from Exiv2 is known to cost it minutes or gigabytes.
    if (!velto::exiv2MayRead(bytes, image->imageType())) return;
    image->readMetadata();
    countKeys(image->exifData(), 1);
    countKeys(image->iptcData(), 2);
    countKeys(image->xmpData(), 3);
  } catch (const Exiv2::AnyError& e) {
    countFeature(hashOf("error", static_cast<size_t>(e.code())));
  } catch (const std::exception& e) {
    countFeature(hashOf(e.what(), 4));
  }
}

int photoFd = -1;
std::string photoPath;  // /proc/self/fd/N of an in-memory file holding the current input

[[noreturn]] void fail(const char* why) {
  std::fprintf(stderr, "metadata fuzzer: %s\n", why);
  std::abort();
}

// Calls `f` with standard output and error captured; aborts when it printed anything.
template <typename F>
auto quietly(const char* what, F f) {
  fuzz_output::capture();
  auto result = f();
  fuzz_output::checkNothingPrinted(what);
  return result;
}

void checkCaptureTime(const velto::CaptureTime& t) {
  if (t.nanoseconds < 0 || t.nanoseconds > 999999999) fail("sub-seconds out of range");
  if (t.offsetSeconds && (*t.offsetSeconds < -86400 || *t.offsetSeconds > 86400)) {
    fail("offset out of range");
  }
  const std::optional<velto::CaptureTime> again = velto::parseXmpCaptureTime(t.text);
  if (!again || again->localSeconds != t.localSeconds || again->nanoseconds != t.nanoseconds ||
      again->offsetSeconds != t.offsetSeconds || again->text != t.text) {
    fail("the capture time's text does not give it back");
  }
}

void checkMerge(const std::string& bytes, const std::optional<std::string>& leaf) {
  velto::SidecarMerge merge;
  std::string err;
  const auto mergeInto = [&](const std::string& existing, velto::SidecarMerge* out) {
    return quietly("merging a sidecar",
                   [&] { return velto::mergeSeriesKeyword(existing, leaf, out, &err); });
  };
  if (!mergeInto(bytes, &merge)) {
    if (err.empty()) fail("a refused sidecar without a reason");
    return;
  }
  if (!merge.changed) return;
  velto::SidecarMerge second;
  if (!mergeInto(merge.bytes, &second)) fail("a merged sidecar does not read again");
  if (second.changed) fail("a merged sidecar changes when merged again");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_output::prepare();
  photoFd = ::memfd_create("velto-fuzz-photo", MFD_CLOEXEC);
  if (photoFd < 0) fail("no in-memory file");
  photoPath = "/proc/self/fd/" + std::to_string(photoFd);
  // The first calls set up Exiv2's state that lives until exit; doing it here keeps the leak
  // check from taking it for a leak of the first input.
  (void)velto::readCaptureTime(photoPath);
  velto::SidecarMerge merge;
  std::string err;
  (void)velto::mergeSeriesKeyword(std::nullopt, "x", &merge, &err);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (::ftruncate(photoFd, 0) != 0 ||
      ::pwrite(photoFd, data, size, 0) != static_cast<ssize_t>(size)) {
    fail("could not write the in-memory file");
  }
  const std::optional<velto::CaptureTime> time =
      quietly("reading a capture time", [] { return velto::readCaptureTime(photoPath); });
  if (time) checkCaptureTime(*time);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  quietly("probing with Exiv2", [&] {
    probeWithExiv2(bytes);
    return 0;
  });
  checkMerge(bytes, "2026-12-07 14-03 (5 photos)");
  checkMerge(bytes, std::nullopt);
  return 0;
}

#pragma once
// The seam to whatever computes image feature prints: a real network, recorded prints, or a
// test fake.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velto {

// A feature print as the analysis delivers it: an element type code, the recipe that made it
// and the raw data. Type 1: packed 32-bit floats, type 2: packed 64-bit floats, native byte
// order. Prints of different recipes are never compared; recipe 0: not stated (prints stored
// before recipes were).
struct FeaturePrint {
  int64_t elementType = 0;
  std::vector<unsigned char> data;
  int64_t recipe = 0;
};

inline constexpr int64_t kElementFloat32 = 1;
inline constexpr int64_t kElementFloat64 = 2;

class ImageAnalysis {
 public:
  virtual ~ImageAnalysis() = default;
  // The print of the image file at `path`, or nothing when it cannot be analysed. Must not
  // throw, print, or end the process, whatever the file holds.
  virtual std::optional<FeaturePrint> featurePrint(const std::string& path) = 0;
  // How many calls of featurePrint may run at once, on different threads; 1: one at a time.
  virtual int concurrency() const { return 1; }
};

}  // namespace velto

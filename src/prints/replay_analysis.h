#pragma once
// Recorded prints: the analysis that reads print files instead of images, and their format.

#include "prints/image_analysis.h"

namespace velto {

// Prints recorded in files instead of computed from images. A print file starts with a
// little-endian unsigned 32-bit word: its low 16 bits are the element type, its high 16 bits the
// recipe that made the print (0 in files written before recipes were stated); then the print's
// data: little-endian 32-bit floats (type 1) or 64-bit floats (type 2). A path that cannot be
// read as a regular file (limit kMaxReadBytes) or a file shorter than 4 bytes gives no print.
class ReplayAnalysis final : public ImageAnalysis {
 public:
  std::optional<FeaturePrint> featurePrint(const std::string& path) override;
};

// The print held in the bytes of a print file, or nothing for fewer than 4 bytes. The data is
// converted from little-endian to the machine's order.
std::optional<FeaturePrint> parsePrintFile(const std::string& bytes);

// The bytes of a print file holding `v` as 32-bit floats (element type 1) made by `recipe`
// (0 to 65535; 0 writes the file as before recipes were stated).
std::string printFileBytes(const std::vector<float>& v, int64_t recipe = 0);

}  // namespace velto

// velto-bench-stages <input.json>: the cost of each step of the analysis, per photo, measured
// one step at a time over the photos of a job in this process: read the file, decode it,
// scale and normalise it for the network, run the network and make the print (equalised
// input, layouts); then scoring and grouping over all the prints; and apart, what the recipe adds
// to the network's pass (equalise, gradients). Prints one line per stage: name, total
// milliseconds, milliseconds per photo.

#include <chrono>
#include <cstdio>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "core/grouping.h"
#include "embedding/embedding_analysis.h"
#include "embedding/embedding_network.h"
#include "embedding/embedding_recipe.h"
#include "embedding/gradient_layout.h"
#include "embedding/luma_equalisation.h"
#include "image/image_decode.h"
#include "io/read_file.h"
#include "job/job_file.h"

using velto::bench::Clock;
using velto::bench::msSince;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velto-bench-stages <input.json>\n");
    return 1;
  }
  const velto::JobReadResult read = velto::readJob(argv[1]);
  if (read.fault != velto::JobFault::kNone) return 1;
  const auto& photos = read.job.photos;
  const auto count = static_cast<double>(photos.size());

  auto start = Clock::now();
  velto::EmbeddingNetwork network;
  const double setup = msSince(start);

  std::vector<std::string> files(photos.size());
  start = Clock::now();
  for (size_t i = 0; i < photos.size(); ++i) {
    std::string err;
    velto::readRegularFile(photos[i], velto::kMaxReadBytes, &files[i], &err);
  }
  const double readMs = msSince(start);

  std::vector<cv::Mat> images(photos.size());
  start = Clock::now();
  for (size_t i = 0; i < photos.size(); ++i) {
    auto image = velto::decodeImageBytes(files[i], velto::kDecodeMinShortSide);
    if (image) images[i] = *image;
  }
  const double decodeMs = msSince(start);
  files.clear();

  std::vector<cv::Mat> inputs(photos.size());
  start = Clock::now();
  for (size_t i = 0; i < photos.size(); ++i) {
    if (!images[i].empty()) inputs[i] = velto::networkInput(images[i]);
  }
  const double resizeMs = msSince(start);

  std::vector<velto::FeatureVector> vectors(photos.size());
  start = Clock::now();
  for (size_t i = 0; i < photos.size(); ++i) {
    if (inputs[i].empty()) continue;
    const auto features = velto::printFeatures(inputs[i], network);
    if (features) vectors[i] = velto::printFromFeatures(*features);
  }
  const double networkMs = msSince(start);

  // What the recipe adds to the network's pass, measured alone (both are part of the network
  // stage above): the equalised input and the gradient layout.
  start = Clock::now();
  for (const cv::Mat& input : inputs) {
    if (!input.empty() && velto::lumaEqualised(input).empty()) return 1;
  }
  const double equaliseMs = msSince(start);
  start = Clock::now();
  for (const cv::Mat& input : inputs) {
    if (!input.empty() && velto::gradientLayout(input).empty()) return 1;
  }
  const double gradientMs = msSince(start);

  const int64_t dims = velto::kPrintLength;
  constexpr int kRepeats = 20;
  start = Clock::now();
  for (int r = 0; r < kRepeats; ++r) velto::groupPhotos(read.job.timeGroups, vectors, dims);
  const double groupMs = msSince(start) / kRepeats;

  std::printf("photos %zu\n", photos.size());
  std::printf("setup %.2f\n", setup);
  const struct {
    const char* name;
    double ms;
  } stages[] = {{"read", readMs},         {"decode", decodeMs},  {"resize", resizeMs},
                {"network", networkMs},   {"grouping", groupMs}, {"equalise", equaliseMs},
                {"gradients", gradientMs}};
  for (const auto& s : stages) std::printf("%s %.2f %.3f\n", s.name, s.ms, s.ms / count);
  return 0;
}

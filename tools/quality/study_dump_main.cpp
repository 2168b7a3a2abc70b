// velto-study-dump <list.txt> <outdir> [variant...]: everything a print recipe is made of, for
// every photo listed (one path a line), computed once so that recipes can be tried offline
// (tools/quality/study.py):
//   outdir/ok.u8             one byte per photo, 1 when it decoded
//   outdir/input.u8          the network input as the program makes it, 224 x 224 RGB levels
//   outdir/pooled_V.f32      the pooled activations (kPooledFeatures floats a photo) when the
//                            network sees the input after photometric variant V
//   outdir/input_V.u8        that input, rounded back to levels (for colour layouts of it)
//   outdir/gradient_V.f32    the shipped gradient layout of that input (kGradientFeatures floats
//                            a photo), which study.py takes for its 4 x 4 x 8 gradient layout
// Variant "product" is exactly what velto-fprint feeds its network; the others are candidates:
//   lumstd    one affine map of all channels that brings luma to mean 0.45, deviation 0.2
//   chanstd   the same per channel (also removes a colour cast)
//   greyworld each channel scaled so that its mean is 0.45
//   linexp    exposure set in linear light: one factor for all channels, mean luma 0.18
//   linwb     the same per channel (grey world in linear light)
//   chaneq    each channel replaced by its rank (histogram equalisation per channel)
//   lumeq     luma replaced by its rank, each pixel's channels scaled alike (colour kept): the
//             shipped network input (lumaEqualised)

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_network.h"
#include "embedding/gradient_layout.h"
#include "embedding/luma_equalisation.h"
#include "image/image_decode.h"

namespace {

using Variant = std::function<cv::Mat(const cv::Mat&)>;

constexpr double kLumR = 0.299, kLumG = 0.587, kLumB = 0.114;

cv::Mat affine(const cv::Mat& in, const std::array<double, 3>& scale,
               const std::array<double, 3>& shift) {
  cv::Mat out(in.size(), CV_32FC3);
  for (int y = 0; y < in.rows; ++y) {
    const float* p = in.ptr<float>(y);
    float* q = out.ptr<float>(y);
    for (int x = 0; x < in.cols * 3; ++x) {
      const int c = x % 3;
      q[x] = static_cast<float>(std::clamp(p[x] * scale[c] + shift[c], 0.0, 1.0));
    }
  }
  return out;
}

std::array<double, 3> channelMeans(const cv::Mat& in) {
  const cv::Scalar m = cv::mean(in);
  return {m[0], m[1], m[2]};
}

double srgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

cv::Mat lumStd(const cv::Mat& in) {
  double sum = 0, sq = 0;
  const double n = static_cast<double>(in.total());
  for (int y = 0; y < in.rows; ++y) {
    const float* p = in.ptr<float>(y);
    for (int x = 0; x < in.cols; ++x, p += 3) {
      const double l = kLumR * p[0] + kLumG * p[1] + kLumB * p[2];
      sum += l;
      sq += l * l;
    }
  }
  const double mean = sum / n;
  const double sd = std::sqrt(std::max(sq / n - mean * mean, 0.0));
  const double k = 0.2 / std::max(sd, 0.02);
  return affine(in, {k, k, k}, {0.45 - mean * k, 0.45 - mean * k, 0.45 - mean * k});
}

cv::Mat chanStd(const cv::Mat& in) {
  cv::Scalar mean, sd;
  cv::meanStdDev(in, mean, sd);
  std::array<double, 3> k{}, b{};
  for (int c = 0; c < 3; ++c) {
    k[c] = 0.2 / std::max(sd[c], 0.02);
    b[c] = 0.45 - mean[c] * k[c];
  }
  return affine(in, k, b);
}

cv::Mat greyWorld(const cv::Mat& in) {
  const auto m = channelMeans(in);
  std::array<double, 3> k{};
  for (int c = 0; c < 3; ++c) k[c] = 0.45 / std::max(m[c], 0.01);
  return affine(in, k, {0, 0, 0});
}

// Exposure in linear light: `perChannel` false scales all channels by one factor (mean luma),
// true each by its own (mean of that channel).
cv::Mat linear(const cv::Mat& in, bool perChannel) {
  cv::Mat lin(in.size(), CV_32FC3);
  for (int y = 0; y < in.rows; ++y) {
    const float* p = in.ptr<float>(y);
    float* q = lin.ptr<float>(y);
    for (int x = 0; x < in.cols * 3; ++x) q[x] = static_cast<float>(srgbToLinear(p[x]));
  }
  const auto m = channelMeans(lin);
  const double lum = kLumR * m[0] + kLumG * m[1] + kLumB * m[2];
  std::array<double, 3> k{};
  for (int c = 0; c < 3; ++c) k[c] = 0.18 / std::max(perChannel ? m[c] : lum, 1e-4);
  cv::Mat out(in.size(), CV_32FC3);
  for (int y = 0; y < in.rows; ++y) {
    const float* p = lin.ptr<float>(y);
    float* q = out.ptr<float>(y);
    for (int x = 0; x < in.cols * 3; ++x) {
      q[x] = static_cast<float>(linearToSrgb(p[x] * k[x % 3]));
    }
  }
  return out;
}

cv::Mat chanEq(const cv::Mat& in) {
  cv::Mat out(in.size(), CV_32FC3);
  const auto n = static_cast<double>(in.total());
  for (int c = 0; c < 3; ++c) {
    // Levels are k / 255: a histogram of levels gives each its mid rank.
    std::array<double, 256> count{};
    for (int y = 0; y < in.rows; ++y) {
      const float* p = in.ptr<float>(y);
      for (int x = 0; x < in.cols; ++x) ++count[std::lround(p[x * 3 + c] * 255.0f)];
    }
    std::array<double, 256> rank{};
    double below = 0;
    for (int k = 0; k < 256; ++k) {
      rank[k] = (below + count[k] / 2) / n;
      below += count[k];
    }
    for (int y = 0; y < in.rows; ++y) {
      const float* p = in.ptr<float>(y);
      float* q = out.ptr<float>(y);
      for (int x = 0; x < in.cols; ++x) {
        q[x * 3 + c] = static_cast<float>(rank[std::lround(p[x * 3 + c] * 255.0f)]);
      }
    }
  }
  return out;
}

void writeLevels(std::FILE* f, const cv::Mat& input) {
  std::vector<uint8_t> levels(input.total() * 3);
  for (int y = 0; y < input.rows; ++y) {
    const float* p = input.ptr<float>(y);
    for (int x = 0; x < input.cols * 3; ++x) {
      levels[static_cast<size_t>(y) * input.cols * 3 + x] =
          static_cast<uint8_t>(std::lround(std::clamp(p[x], 0.0f, 1.0f) * 255.0f));
    }
  }
  std::fwrite(levels.data(), 1, levels.size(), f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velto-study-dump <list.txt> <outdir> [variant...]\n");
    return 1;
  }
  const std::map<std::string, Variant> all = {
      {"product", [](const cv::Mat& in) { return in; }},
      {"lumstd", lumStd},
      {"chanstd", chanStd},
      {"greyworld", greyWorld},
      {"linexp", [](const cv::Mat& in) { return linear(in, false); }},
      {"linwb", [](const cv::Mat& in) { return linear(in, true); }},
      {"chaneq", chanEq},
      {"lumeq", velto::lumaEqualised},
  };
  std::vector<std::string> names;
  for (int k = 3; k < argc; ++k) names.emplace_back(argv[k]);
  if (names.empty()) {
    for (const auto& [name, fn] : all) names.push_back(name);
  }
  for (const auto& name : names) {
    if (!all.count(name)) {
      std::fprintf(stderr, "velto-study-dump: unknown variant %s\n", name.c_str());
      return 1;
    }
  }
  const std::string dir = argv[2];
  std::ifstream list(argv[1]);
  std::FILE* ok = std::fopen((dir + "/ok.u8").c_str(), "wb");
  std::FILE* raw = std::fopen((dir + "/input.u8").c_str(), "wb");
  std::map<std::string, std::FILE*> pooledOut, inputOut, gradientOut;
  for (const auto& name : names) {
    pooledOut[name] = std::fopen((dir + "/pooled_" + name + ".f32").c_str(), "wb");
    inputOut[name] = std::fopen((dir + "/input_" + name + ".u8").c_str(), "wb");
    gradientOut[name] = std::fopen((dir + "/gradient_" + name + ".f32").c_str(), "wb");
  }
  if (!ok || !raw) return 1;
  velto::EmbeddingNetwork network;
  const int side = static_cast<int>(velto::kNetworkInputSide);
  for (std::string path; std::getline(list, path);) {
    if (path.empty()) continue;
    const auto image = velto::decodeImage(path, velto::kDecodeMinShortSide);
    const cv::Mat input =
        image ? velto::networkInput(*image) : cv::Mat(side, side, CV_32FC3, cv::Scalar(0, 0, 0));
    const uint8_t flag = image ? 1 : 0;
    std::fwrite(&flag, 1, 1, ok);
    writeLevels(raw, input);
    for (const auto& name : names) {
      const cv::Mat v = all.at(name)(input);
      std::vector<float> pooled = image ? network.pooledFeatures(v) : std::vector<float>{};
      pooled.resize(velto::kPooledFeatures, std::nanf(""));
      std::fwrite(pooled.data(), sizeof(float), pooled.size(), pooledOut[name]);
      writeLevels(inputOut[name], v);
      const std::vector<float> gradient = velto::gradientLayout(v);
      std::fwrite(gradient.data(), sizeof(float), gradient.size(), gradientOut[name]);
    }
  }
  bool good = std::fclose(ok) == 0 && std::fclose(raw) == 0;
  for (const auto& name : names) {
    good = std::fclose(pooledOut[name]) == 0 && good;
    good = std::fclose(inputOut[name]) == 0 && good;
    good = std::fclose(gradientOut[name]) == 0 && good;
  }
  return good ? 0 : 1;
}

// velto-study-decoded <list.txt> <outdir>: every photo listed (one path a line) decoded exactly
// as velto-fprint decodes it (format told by content, orientation applied, reduced scale),
// written losslessly as <outdir>/<line number, 4 digits>.png. A photo that cannot be decoded
// gets no file. Lets scripts run other networks, crops or flips on the program's own pixels.

#include <cstdio>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "embedding/embedding_analysis.h"
#include "image/image_decode.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: velto-study-decoded <list.txt> <outdir>\n");
    return 1;
  }
  std::ifstream list(argv[1]);
  if (!list) return 1;
  int line = 0;
  int failed = 0;
  for (std::string path; std::getline(list, path);) {
    ++line;
    if (path.empty()) continue;
    const auto rgb = velto::decodeImage(path, velto::kDecodeMinShortSide);
    if (!rgb) {
      std::fprintf(stderr, "velto-study-decoded: cannot decode %s\n", path.c_str());
      ++failed;
      continue;
    }
    cv::Mat bgr;
    cv::cvtColor(*rgb, bgr, cv::COLOR_RGB2BGR);
    char name[32];
    std::snprintf(name, sizeof name, "/%04d.png", line);
    if (!cv::imwrite(std::string(argv[2]) + name, bgr)) return 1;
  }
  return failed == line ? 1 : 0;
}

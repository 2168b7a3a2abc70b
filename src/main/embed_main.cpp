// velto-fprint-embed <input.json> <print-folder>: computes the feature print of every photo of
// a job once and stores it, so that velto-fprint-replay can group the job again, or another
// program can read the prints, without analysing the images twice.
//
// Writes <print-folder>/NNNNNN.print (the photo's index, six digits or more) for every photo
// that yields a print, and <print-folder>/job.json, the same job with those print files as
// its photos. A photo without a print gets no file (one left by an earlier job is removed), so
// the replay sees it fail in the same way. No output replaces a photo of the job.
// Prints one line per photo on standard output: print file, element count (0: no print), photo.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "fprint/embedding_analysis.h"
#include "fprint/feature_prints.h"
#include "fprint/replay_analysis.h"
#include "job/atomic_write.h"
#include "job/file_identity.h"
#include "job/job_file.h"
#include "main/fail.h"
#include "main/flow.h"
#include "main/messages.h"

namespace {

std::string printName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "%06zu.print", index);
  return name;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Writes one output file; none may replace a photo of the job.
void write(const std::string& path, const std::string& bytes, const velto::FileIdentities& photos) {
  if (photos.wouldReplace(path)) {
    velto::fail(velto::messages::couldNotWrite(path, velto::messages::isAPhotoOfTheJob()));
  }
  std::string reason;
  if (!velto::writeFileAtomically(path, bytes, &reason)) {
    velto::fail(velto::messages::couldNotWrite(path, reason));
  }
}

// A print file left from an earlier job in the same folder would be replayed as this photo's
// print; a photo without a print must have no file.
void removeStalePrint(const std::string& path, const velto::FileIdentities& photos) {
  if (photos.wouldReplace(path)) {
    velto::fail(velto::messages::couldNotWrite(path, velto::messages::isAPhotoOfTheJob()));
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    velto::fail(velto::messages::couldNotWrite(path, std::strerror(errno)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velto;
  if (argc != 3) fail("usage: velto-fprint-embed <input.json> <print-folder>");
  const std::string inputPath = argv[1];
  const std::string folder = argv[2];

  const JobReadResult read = readJob(inputPath);
  if (read.fault != JobFault::kNone) failJob(read, inputPath);
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    fail(messages::couldNotWrite(folder, std::strerror(errno)));
  }

  const FileIdentities photos(read.job.photos);
  EmbeddingAnalysis analysis;
  std::string job = "{\"photos\":[";
  for (size_t i = 0; i < read.job.photos.size(); ++i) {
    const std::string printPath = folder + "/" + printName(i);
    const auto print = analysis.featurePrint(read.job.photos[i]);
    const size_t count = print ? decodePrint(*print).size() : 0;
    if (count > 0) {
      write(printPath, printFileBytes(decodePrint(*print)), photos);
    } else {
      removeStalePrint(printPath, photos);
    }
    std::printf("%s\t%zu\t%s\n", printPath.c_str(), count, read.job.photos[i].c_str());
    job += (i ? "," : "") + jsonString(printPath);
  }
  job += "],\"timeGroups\":[";
  for (size_t i = 0; i < read.job.timeGroups.size(); ++i) {
    job += (i ? "," : "") + std::to_string(read.job.timeGroups[i]);
  }
  write(folder + "/job.json", job + "]}", photos);
  return 0;
}

#include "app/embed_prints.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "app/run_job.h"
#include "io/atomic_write.h"
#include "io/file_identity.h"
#include "job/job_file.h"
#include "prints/feature_prints.h"
#include "prints/replay_analysis.h"

namespace velto {

namespace {

std::string printName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "%06zu.print", index);
  return name;
}

// The output files of one run: none may replace a photo of the job.
class PrintFolder {
 public:
  PrintFolder(const std::vector<std::string>& photos, std::string* err)
      : photos_(photos), err_(err) {}

  bool write(const std::string& path, const std::string& bytes) {
    if (refused(path)) return false;
    std::string reason;
    if (writeFileAtomically(path, bytes, &reason)) return true;
    *err_ = messages::couldNotWrite(path, reason);
    return false;
  }

  // A print file left from an earlier job would be replayed as this photo's print.
  bool remove(const std::string& path) {
    if (refused(path)) return false;
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    *err_ = messages::couldNotWrite(path, std::strerror(errno));
    return false;
  }

 private:
  bool refused(const std::string& path) {
    if (!photos_.wouldReplace(path)) return false;
    *err_ = messages::couldNotWrite(path, messages::isAPhotoOfTheJob());
    return true;
  }

  FileIdentities photos_;
  std::string* err_;
};

}  // namespace

bool embedPrints(const std::vector<std::string>& args, ImageAnalysis& analysis,
                 const std::function<void(const StoredPrint&)>& stored, std::string* err) {
  if (args.size() != 3) {
    *err = messages::embedUsage();
    return false;
  }
  const std::string& inputPath = args[1];
  const std::string& folder = args[2];

  JobReadResult read = readJob(inputPath);
  if (read.fault != JobFault::kNone) {
    *err = jobFaultMessage(read, inputPath);
    return false;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    *err = messages::couldNotWrite(folder, std::strerror(errno));
    return false;
  }

  PrintFolder out(read.job.photos, err);
  Job printJob;
  printJob.timeGroups = read.job.timeGroups;
  bool failed = false;
  analysePhotos(read.job.photos, analysis, [&](size_t i, std::optional<FeaturePrint> print) {
    StoredPrint entry{folder + "/" + printName(i), 0, read.job.photos[i]};
    const FeatureVector vector = print ? decodePrint(*print) : FeatureVector{};
    entry.elements = static_cast<int64_t>(vector.size());
    failed = vector.empty() ? !out.remove(entry.printPath)
                            : !out.write(entry.printPath, printFileBytes(vector, print->recipe));
    if (failed) return false;
    stored(entry);
    printJob.photos.push_back(std::move(entry.printPath));
    return true;
  });
  return !failed && out.write(folder + "/job.json", encodeJob(printJob));
}

}  // namespace velto

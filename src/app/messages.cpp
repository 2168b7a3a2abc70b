#include "app/messages.h"

namespace velto::messages {

std::string usage() { return "usage: velto-fprint <input.json> <output.json>"; }

std::string reportUsage() {
  return "usage: velto-fprint-report [--rules platform|series] <input.json> <report.html>";
}

std::string embedUsage() { return "usage: velto-fprint-embed <input.json> <print-folder>"; }

std::string couldNotRead(const std::string& inputPath) { return "could not read " + inputPath; }

std::string notAJsonObject(const std::string& inputPath) {
  return inputPath + " is not a JSON object";
}

std::string badPhotos() { return "\"photos\" missing or not an array of strings"; }

std::string badTimeGroups() { return "\"timeGroups\" missing or not an array"; }

std::string lengthsDiffer(int64_t photos, int64_t timeGroups) {
  return "photos (" + std::to_string(photos) + ") and timeGroups (" + std::to_string(timeGroups) +
         ") differ in length";
}

std::string noUsableFeaturePrint(int64_t n, int64_t dims) {
  return "no usable feature print among " + std::to_string(n) +
         " photos (dims=" + std::to_string(dims) + ")";
}

std::string couldNotWrite(const std::string& outputPath, const std::string& reason) {
  return "could not write " + outputPath + ": " + reason;
}

std::string isAPhotoOfTheJob() { return "it is one of the job's photos"; }

}  // namespace velto::messages

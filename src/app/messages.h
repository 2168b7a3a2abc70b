#pragma once
// Every text the program can print. All of them are built here so that tests can compare the
// exact bytes a caller will see.

#include <cstdint>
#include <string>

namespace velto::messages {

std::string usage();
std::string reportUsage();  // velto-fprint-report's own command line
std::string embedUsage();   // velto-fprint-embed's own command line
std::string couldNotRead(const std::string& inputPath);
std::string notAJsonObject(const std::string& inputPath);
std::string badPhotos();
std::string badTimeGroups();
std::string lengthsDiffer(int64_t photos, int64_t timeGroups);
std::string noUsableFeaturePrint(int64_t n, int64_t dims);
std::string couldNotWrite(const std::string& outputPath, const std::string& reason);
std::string isAPhotoOfTheJob();  // the reason of couldNotWrite for a path that names a photo

}  // namespace velto::messages

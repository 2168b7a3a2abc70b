#include "job/job_file.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "io/read_file.h"
#include "job/time_group.h"

namespace velto {

namespace {

using Json = nlohmann::json;

// What became of one of the two keys the job needs.
enum class Field {
  kMissing,
  kNotArray,  // present, but its value is no array
  kBadEntry,  // an array with an entry that is not a string ("photos" only)
  kArray,     // an array, collected
};

// Reads a job file as a stream of JSON events and keeps only what the job needs: the entries
// of the top-level "photos" and "timeGroups" arrays. Everything else is checked for validity
// and dropped as it goes by, so memory follows what is kept, not what the text holds; a
// document tree of a 256 MiB file of nested or empty arrays would take gigabytes. The parser
// underneath keeps one bit per nesting level and never recurses.
class JobReader {
 public:
  Field photosField = Field::kMissing;
  Field timeGroupsField = Field::kMissing;
  std::vector<std::string> photos;
  std::vector<int64_t> timeGroups;
  bool topIsObject = false;

  bool null() { return scalar(0); }
  bool boolean(bool value) { return scalar(timeGroupNumber(Json(value))); }
  bool number_integer(Json::number_integer_t value) { return scalar(timeGroupNumber(Json(value))); }
  bool number_unsigned(Json::number_unsigned_t value) {
    return scalar(timeGroupNumber(Json(value)));
  }
  bool number_float(Json::number_float_t value, const Json::string_t&) {
    return scalar(timeGroupNumber(Json(value)));
  }
  bool string(Json::string_t& value) {
    if (depth_ == 2 && collecting_ == Key::kPhotos) {
      if (photosField == Field::kArray) photos.push_back(std::move(value));
      return true;
    }
    return scalar(0);
  }
  bool binary(Json::binary_t&) { return scalar(0); }  // not produced by the JSON reader

  bool start_object(std::size_t) { return open(/*isArray=*/false); }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(/*isArray=*/true); }
  bool end_array() { return close(); }

  bool key(Json::string_t& name) {
    if (depth_ == 1) {
      pending_ = name == "photos"       ? Key::kPhotos
                 : name == "timeGroups" ? Key::kTimeGroups
                                        : Key::kOther;
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  enum class Key { kOther, kPhotos, kTimeGroups };

  // A value of the top-level object sets its key's field; of the key given twice the last
  // value counts, so each value starts over.
  void topLevelValue(bool isArray) {
    if (pending_ == Key::kPhotos) {
      photos.clear();
      photos.shrink_to_fit();
      photosField = isArray ? Field::kArray : Field::kNotArray;
    } else if (pending_ == Key::kTimeGroups) {
      timeGroups.clear();
      timeGroups.shrink_to_fit();
      timeGroupsField = isArray ? Field::kArray : Field::kNotArray;
    }
  }

  // An entry of a collected array that is not a string: a bad photo, or a time group of its
  // converted value.
  void arrayEntry(int64_t timeGroup) {
    if (collecting_ == Key::kTimeGroups) {
      timeGroups.push_back(timeGroup);
    } else if (collecting_ == Key::kPhotos && photosField == Field::kArray) {
      photosField = Field::kBadEntry;
      photos.clear();
      photos.shrink_to_fit();
    }
  }

  bool scalar(int64_t timeGroup) {
    if (depth_ == 0) return false;  // the top is no object: nothing more to learn
    if (depth_ == 1) topLevelValue(/*isArray=*/false);
    if (depth_ == 2) arrayEntry(timeGroup);
    return true;
  }

  bool open(bool isArray) {
    if (depth_ == 0) {
      if (isArray) return false;
      topIsObject = true;
    } else if (depth_ == 1) {
      topLevelValue(isArray);
      collecting_ = isArray ? pending_ : Key::kOther;
    } else if (depth_ == 2) {
      arrayEntry(0);  // an array or object as a time group is 0
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    if (depth_ == 1) collecting_ = Key::kOther;
    return true;
  }

  int64_t depth_ = 0;
  Key pending_ = Key::kOther;     // the key of the top-level value to come
  Key collecting_ = Key::kOther;  // the top-level array being read, if it is one we keep
};

}  // namespace

JobReadResult parseJob(const std::string& bytes) {
  JobReadResult result;
  // The JSON reader takes a NUL byte for the end of the text and would accept whatever
  // follows it; valid JSON never holds a raw NUL, so such a file is refused outright.
  if (bytes.find('\0') != std::string::npos) {
    result.fault = JobFault::kNotAnObject;
    return result;
  }
  JobReader reader;
  // Strict: the whole text must be one value. Failures come back as false, never as
  // exceptions; a leading UTF-8 byte-order mark is skipped by the reader.
  const bool valid = Json::sax_parse(bytes, &reader, Json::input_format_t::json,
                                     /*strict=*/true, /*ignore_comments=*/false);
  if (!valid || !reader.topIsObject) {
    result.fault = JobFault::kNotAnObject;
    return result;
  }
  if (reader.photosField != Field::kArray) {
    result.fault = JobFault::kBadPhotos;
    return result;
  }
  if (reader.timeGroupsField != Field::kArray) {
    result.fault = JobFault::kBadTimeGroups;
    return result;
  }
  if (reader.timeGroups.size() != reader.photos.size()) {
    result.fault = JobFault::kLengthsDiffer;
    result.job.photos.resize(reader.photos.size());
    result.timeGroupsCount = static_cast<int64_t>(reader.timeGroups.size());
    return result;
  }
  result.job.photos = std::move(reader.photos);
  result.job.timeGroups = std::move(reader.timeGroups);
  return result;
}

std::string encodeJob(const Job& job) {
  std::string text = "{\"photos\":[";
  for (size_t i = 0; i < job.photos.size(); ++i) {
    text += i > 0 ? ",\"" : "\"";
    for (const char c : job.photos[i]) {
      if (c == '"' || c == '\\') {
        text += '\\';
        text += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        text += escaped;
      } else {
        text += c;
      }
    }
    text += '"';
  }
  text += "],\"timeGroups\":[";
  for (size_t i = 0; i < job.timeGroups.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(job.timeGroups[i]);
  }
  return text + "]}";
}

JobReadResult readJob(const std::string& path) {
  std::string bytes;
  std::string reason;
  if (!readRegularFile(path, kMaxReadBytes, &bytes, &reason)) {
    JobReadResult result;
    result.fault = JobFault::kUnreadable;
    return result;
  }
  return parseJob(bytes);
}

}  // namespace velto

#include "metadata/xmp_sidecar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <memory>
#include <string_view>
#include <vector>

#include "io/atomic_write.h"
#include "io/read_file.h"
#include "metadata/exiv2_setup.h"
#include "metadata/xmp_limits.h"

namespace velto {
namespace {

using Strings = std::vector<std::string>;

// Sidecars hold text; anything larger is no sidecar of ours to rewrite.
constexpr int64_t kMaxSidecarBytes = int64_t{64} << 20;

constexpr char kHierarchyKey[] = "Xmp.lr.hierarchicalSubject";
constexpr char kTagsListKey[] = "Xmp.digiKam.TagsList";
constexpr char kSubjectKey[] = "Xmp.dc.subject";

// What Exiv2 would write for a sidecar without properties, had it not written nothing (no XML
// that any reader, Exiv2 included, accepts).
constexpr char kEmptyPacket[] =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 4.4.0-Exiv2\">\n"
    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/>\n"
    "</x:xmpmeta>\n"
    "<?xpacket end=\"w\"?>";

Strings valuesOf(const Exiv2::XmpData& xmp, const char* key) {
  Strings values;
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it == xmp.end()) return values;
  for (long i = 0; i < it->count(); ++i) values.push_back(it->toString(i));
  return values;
}

void setValues(Exiv2::XmpData* xmp, const char* key, Exiv2::TypeId type, const Strings& values) {
  const auto it = xmp->findKey(Exiv2::XmpKey(key));
  if (it != xmp->end()) xmp->erase(it);
  if (values.empty()) return;
  Exiv2::XmpArrayValue array(type);
  for (const std::string& v : values) array.read(v);  // each read appends an item
  xmp->add(Exiv2::XmpKey(key), &array);
}

// Splits `keywords` into the program's own ("Series" + separator + ...) and the rest, and
// collects the leaves of its own.
Strings withoutOwn(const Strings& keywords, char separator, Strings* ownLeaves) {
  const std::string prefix = std::string(kSeriesRoot) + separator;
  Strings kept;
  for (const std::string& k : keywords) {
    if (k.rfind(prefix, 0) == 0) {
      ownLeaves->push_back(k.substr(k.rfind(separator) + 1));
    } else {
      kept.push_back(k);
    }
  }
  return kept;
}

std::string leafOf(const std::string& keyword, char separator) {
  const size_t at = keyword.rfind(separator);
  return at == std::string::npos ? keyword : keyword.substr(at + 1);
}

// The packet's padding (kilobytes of spaces for editing in place inside an image) serves no
// purpose in a file of its own.
std::string withoutPadding(const std::string& packet) {
  const size_t trailer = packet.rfind("<?xpacket end=");
  if (trailer == std::string::npos) return packet;
  size_t end = trailer;
  while (end > 0 && (packet[end - 1] == ' ' || packet[end - 1] == '\n')) --end;
  return packet.substr(0, end) + "\n" + packet.substr(trailer);
}

// Whether `bytes` hold an XMP packet: the RDF namespace declared and an element of it named RDF
// (rdf:RDF, inside x:xmpmeta or on its own). Exiv2's toolkit reads any well-formed XML without
// them as an empty packet, and writing that back would destroy a file that is not ours: notes,
// a web page, another program's data under the same name.
bool holdsXmpPacket(std::string_view bytes) {
  if (bytes.find("http://www.w3.org/1999/02/22-rdf-syntax-ns#") == std::string_view::npos) {
    return false;
  }
  for (size_t at = bytes.find("RDF"); at != std::string_view::npos;
       at = bytes.find("RDF", at + 1)) {
    if (at > 0 && (bytes[at - 1] == ':' || bytes[at - 1] == '<')) return true;
  }
  return false;
}

// Whether the sidecar at `path` may be replaced: the user running the program could write it
// in place, and someone may at all (a file without any write permission bit was made read-only
// on purpose, so root leaves it too). Renaming over it needs only the folder's permission,
// which would make the file's own mode meaningless.
bool mayReplace(const std::string& path, std::string* err) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *err = std::strerror(errno);
    return false;
  }
  if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    *err = "it is write-protected";
    return false;
  }
  return true;
}

bool contains(const Strings& list, const std::string& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::string sidecarPathOf(const std::string& photoPath) { return photoPath + ".xmp"; }

bool mergeSeriesKeyword(const std::optional<std::string>& existing,
                        const std::optional<std::string>& leaf, SidecarMerge* out,
                        std::string* err) {
  prepareExiv2();
  *out = SidecarMerge();
  try {
    Exiv2::XmpData xmp;
    if (existing && !xmpWithinLimits(*existing)) {
      *err = "more properties side by side, or namespaces, than Exiv2 reads in reasonable time";
      return false;
    }
    if (existing && !existing->empty() &&
        (!holdsXmpPacket(*existing) || Exiv2::XmpParser::decode(xmp, *existing) != 0)) {
      *err = "not an XMP packet Exiv2 can read";
      return false;
    }
    const Strings hierarchy = valuesOf(xmp, kHierarchyKey);
    const Strings tagsList = valuesOf(xmp, kTagsListKey);
    const Strings subject = valuesOf(xmp, kSubjectKey);

    // Earlier series keywords go, and with them their leaves in dc:subject, unless another
    // hierarchical keyword that stays has the same leaf. The new leaf stays where it is, so
    // that a second run finds the same order.
    Strings oldLeaves;
    Strings newHierarchy = withoutOwn(hierarchy, '|', &oldLeaves);
    Strings newTagsList = withoutOwn(tagsList, '/', &oldLeaves);
    Strings keptLeaves;
    for (const std::string& k : newHierarchy) keptLeaves.push_back(leafOf(k, '|'));
    for (const std::string& k : newTagsList) keptLeaves.push_back(leafOf(k, '/'));
    if (leaf) keptLeaves.push_back(*leaf);
    Strings newSubject;
    for (const std::string& s : subject) {
      if (!contains(oldLeaves, s) || contains(keptLeaves, s)) newSubject.push_back(s);
    }
    if (leaf) {
      newHierarchy.push_back(std::string(kSeriesRoot) + "|" + *leaf);
      newTagsList.push_back(std::string(kSeriesRoot) + "/" + *leaf);
      if (!contains(newSubject, *leaf)) newSubject.push_back(*leaf);
    }
    if (newHierarchy == hierarchy && newTagsList == tagsList && newSubject == subject) {
      return true;
    }

    setValues(&xmp, kHierarchyKey, Exiv2::xmpBag, newHierarchy);
    setValues(&xmp, kTagsListKey, Exiv2::xmpSeq, newTagsList);
    setValues(&xmp, kSubjectKey, Exiv2::xmpBag, newSubject);
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0) {
      *err = "Exiv2 could not write the XMP packet";
      return false;
    }
    // A sidecar that held nothing but a series keyword, of a photo that left its series.
    if (packet.empty()) packet = kEmptyPacket;
    out->changed = true;
    out->bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + withoutPadding(packet);
    return true;
  } catch (const std::exception& e) {
    *err = std::string("Exiv2: ") + e.what();
    return false;
  }
}

SidecarOutcome updateSidecar(const std::string& sidecarPath, const std::optional<std::string>& leaf,
                             bool dryRun, std::string* err) {
  std::optional<std::string> existing;
  // A sidecar that is a symbolic link (to a sidecar store, say) is updated where it leads, so
  // the link stays and its target is not left behind with the old keywords.
  std::string target = sidecarPath;
  struct stat st {};
  const bool exists = ::lstat(sidecarPath.c_str(), &st) == 0;
  if (exists) {
    std::string bytes;
    if (!readRegularFile(sidecarPath, kMaxSidecarBytes, &bytes, err)) {
      return SidecarOutcome::kFailed;
    }
    if (S_ISLNK(st.st_mode)) {
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(sidecarPath.c_str(), nullptr),
                                                       &std::free);
      if (!real) {
        *err = std::strerror(errno);
        return SidecarOutcome::kFailed;
      }
      target = real.get();
    }
    // An empty file (as `touch` leaves it) holds nothing to keep: it counts as no sidecar.
    if (!bytes.empty()) existing = std::move(bytes);
  } else if (errno != ENOENT) {
    *err = std::strerror(errno);
    return SidecarOutcome::kFailed;
  }
  if (!existing && !leaf) return SidecarOutcome::kUnchanged;

  SidecarMerge merge;
  if (!mergeSeriesKeyword(existing, leaf, &merge, err)) return SidecarOutcome::kFailed;
  if (!merge.changed) return SidecarOutcome::kUnchanged;
  if (exists && !mayReplace(target, err)) return SidecarOutcome::kFailed;
  if (!dryRun && !writeFileAtomically(target, merge.bytes, err)) {
    return SidecarOutcome::kFailed;
  }
  return existing ? SidecarOutcome::kUpdated : SidecarOutcome::kCreated;
}

}  // namespace velto

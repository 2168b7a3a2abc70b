#pragma once
// Series keywords in XMP sidecars, the files beside a photo through which darktable, digiKam
// and Lightroom-style managers exchange tags. Only the program's own keywords (everything under
// kSeriesRoot) are ever added or removed; every other property of a sidecar is kept as Exiv2's
// XMP toolkit read it.

#include <optional>
#include <string>

namespace velto {

// The root of the keyword hierarchy this program owns: "Series|<leaf>" in
// lr:hierarchicalSubject, "Series/<leaf>" in digiKam:TagsList (digiKam's separator), <leaf>
// in dc:subject.
inline constexpr char kSeriesRoot[] = "Series";

// The sidecar both darktable and digiKam (in its default setting) read: NAME.EXT.xmp.
std::string sidecarPathOf(const std::string& photoPath);

struct SidecarMerge {
  bool changed = false;  // the keywords differ from what the sidecar holds
  std::string bytes;     // the whole new sidecar, when changed
};

// Puts the series keyword `leaf` (nothing: the photo is in no series) into the sidecar whose
// bytes are `existing` (nothing: there is no sidecar yet), replacing any earlier series keyword
// and its dc:subject leaf. Unchanged keywords give changed == false, so that a second run
// rewrites nothing. Returns false with the reason when `existing` is not an XMP packet (no
// rdf:RDF) or not one Exiv2 reads; such a sidecar must be left alone.
bool mergeSeriesKeyword(const std::optional<std::string>& existing,
                        const std::optional<std::string>& leaf, SidecarMerge* out,
                        std::string* err);

enum class SidecarOutcome {
  kUnchanged,  // nothing to do: the keywords were already right (or there is no series)
  kCreated,    // a new sidecar (written, or would be under a dry run)
  kUpdated,    // an existing sidecar merged (written, or would be)
  kFailed,     // unreadable, not XMP, write-protected, or the write failed: left untouched
};

// Reads the sidecar at `sidecarPath`, merges `leaf` in and, unless `dryRun`, replaces the file
// all at once (writeFileAtomically). A sidecar that is a symbolic link is replaced where the
// link leads; the link stays. An empty file counts as no sidecar (kCreated). A sidecar that
// needs a change but is write-protected (the user may not write it, or it has no write
// permission bit at all, so root leaves it too) fails, under a dry run as well. On kFailed the
// reason is in `*err`.
SidecarOutcome updateSidecar(const std::string& sidecarPath, const std::optional<std::string>& leaf,
                             bool dryRun, std::string* err);

}  // namespace velto

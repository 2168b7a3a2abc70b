#pragma once
// A check of XMP text before Exiv2's XMP toolkit parses it. The toolkit compares every new
// property with all its siblings (and every new namespace with all the others), so tens of
// thousands of properties side by side take it minutes: 40000 in a 940 KB packet, 10 s.

#include <cstdint>
#include <string_view>

namespace velto {

// More properties than this side by side are refused; real sidecars hold tens to hundreds
// (Lightroom's develop settings, about 500). Array items do not count: the toolkit appends
// them without comparing.
inline constexpr int64_t kMaxXmpSiblings = 10000;

// Namespace declarations beyond this are refused; real packets declare ten to forty. Each new
// namespace costs the toolkit a comparison with all the others and stays registered until the
// program ends (4000 in one sidecar: 0.9 s and 700 KB).
inline constexpr int64_t kMaxXmpNamespaces = 1000;

// Whether `xml` holds at most kMaxXmpSiblings properties side by side (child elements other
// than array items (li) plus attributes of any one element; properties of all
// rdf:Description elements together, as they fill the same schemas) and at most
// kMaxXmpNamespaces namespace declarations. A scan of the tags alone, no XML parse; malformed text is scanned as far as
// it goes, since the toolkit does the same work before it finds the fault.
bool xmpWithinLimits(std::string_view xml);

}  // namespace velto

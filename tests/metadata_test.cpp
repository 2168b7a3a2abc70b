// Photo metadata: the check that keeps XMP with too many properties side by side from Exiv2's
// toolkit, at the limit and one past it, for each way of putting properties side by side and
// each container a photo can hold such XMP in; and every input the metadata fuzzer ever tripped
// over (fuzz/regressions/metadata), replayed: read quietly, and merged as a sidecar to a fixed
// point or refused with a reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "metadata/bmff_nesting.h"
#include "metadata/capture_time.h"
#include "metadata/embedded_xmp.h"
#include "metadata/xmp_limits.h"
#include "metadata/xmp_sidecar.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

std::string packet(const std::string& descriptions) {
  return "<?xml version=\"1.0\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
         descriptions + "</rdf:RDF></x:xmpmeta>";
}

std::string properties(int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; ++i)
    out += "<my:p" + std::to_string(i) + ">v</my:p" + std::to_string(i) + ">";
  return out;
}

std::string attributes(int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; ++i) out += " my:a" + std::to_string(i) + "='v'";
  return out;
}

std::string description(const std::string& inside, int64_t extraAttributes = 0) {
  return "<rdf:Description xmlns:my=\"http://example.invalid/my/\"" + attributes(extraAttributes) +
         ">" + inside + "</rdf:Description>";
}

TEST(XmpLimitsTest, PropertiesSideBySideUpToTheLimit) {
  constexpr int64_t kMax = kMaxXmpSiblings;
  struct Case {
    const char* what;
    std::string xml;
    bool accepted;
  };
  // Declarations, one on each element, up to the limit with the three of the packet.
  const auto namespaces = [](int64_t n) {
    std::string out;
    for (int64_t i = 0; i < n - 3; ++i) out += "<my:s xmlns:n" + std::to_string(i) + "='u'/>";
    return out;
  };
  const std::string structOf = "<my:s>" + properties(kMax) + "</my:s>";
  std::string items;  // no limit on the items of an array
  for (int64_t i = 0; i < 3 * kMax; ++i) items += "<rdf:li>x</rdf:li>";
  const Case cases[] = {
      {"elements", packet(description(properties(kMax))), true},
      {"elements + 1", packet(description(properties(kMax + 1))), false},
      {"attributes and elements", packet(description(properties(kMax - 10), 10)), true},
      {"one more attribute", packet(description(properties(kMax - 10), 11)), false},
      {"split over descriptions",
       packet(description(properties(kMax / 2)) + description(properties(kMax / 2))), true},
      {"split, one more",
       packet(description(properties(kMax / 2)) + description(properties(kMax / 2 + 1))), false},
      {"struct fields", packet(description(structOf)), true},
      {"struct fields + 1", packet(description("<my:s>" + properties(kMax + 1) + "</my:s>")),
       false},
      {"attributes of an array item",
       packet(description("<my:b><rdf:Bag><rdf:li" + attributes(kMax + 1) + "/></rdf:Bag></my:b>")),
       false},
      {"array items", packet(description("<my:b><rdf:Bag>" + items + "</rdf:Bag></my:b>")), true},
      {"namespaces", packet(description(namespaces(kMaxXmpNamespaces))), true},
      {"namespaces + 1", packet(description(namespaces(kMaxXmpNamespaces + 1))), false},
      {"properties in comments and CDATA",
       packet(description("<!--" + properties(kMax + 1) + "--><my:c><![CDATA[" +
                          properties(kMax + 1) + "]]></my:c>")),
       true},
      {"cut short", packet(description(properties(kMax + 1))).substr(0, 300000), false},
  };
  for (const Case& c : cases) EXPECT_EQ(xmpWithinLimits(c.xml), c.accepted) << c.what;
}

// Four bytes of `v`, most significant first or last.
std::string bigEndian32(size_t v, bool big = true) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[big ? 3 - i : i] = static_cast<char>(v >> (8 * i));
  return out;
}
std::string littleEndian32(size_t v) { return bigEndian32(v, false); }

std::string deflated(const std::string& s) {
  uLongf size = compressBound(s.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                     reinterpret_cast<const Bytef*>(s.data()), s.size()),
            Z_OK);
  out.resize(size);
  return out;
}

// Each container with the packet in the place Exiv2 reads it from (checksums left out: the
// check does not read them).
std::string pngWith(const std::string& type, const std::string& data) {
  return "\x89PNG\r\n\x1A\n" + bigEndian32(13) + "IHDR" + std::string(13, '\1') + "crc!" +
         bigEndian32(data.size()) + type + data + "crc!" + bigEndian32(0) + "IEND" + "crc!";
}

std::string webpWith(const std::string& type, const std::string& data) {
  const std::string chunks = "VP8X" + littleEndian32(10) + std::string(10, '\0') + type +
                             littleEndian32(data.size()) + data + (data.size() % 2 ? "\0" : "");
  return "RIFF" + littleEndian32(4 + chunks.size()) + "WEBP" + chunks;
}

// A big-endian TIFF whose first directory holds the packet in the XMP tag (700).
std::string tiffWith(const std::string& xmp) {
  const std::string entry =
      std::string("\x02\xBC\0\x01", 4) + bigEndian32(xmp.size()) + bigEndian32(8 + 2 + 12 + 4);
  return std::string("MM\0*", 4) + bigEndian32(8) + std::string("\0\x01", 2) + entry +
         bigEndian32(0) + xmp;
}

// Properties with values of random letters and digits: text that compresses less than
// twice, so that all of it is inflated as Exiv2 inflates it.
std::string incompressibleProperties(int64_t n) {
  uint64_t state = 1;
  std::string out;
  for (int64_t i = 0; i < n; ++i) {
    out += "<my:p" + std::to_string(i) + ">";
    for (int k = 0; k < 64; ++k) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      out += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"[(state >> 33) % 62];
    }
    out += "</my:p" + std::to_string(i) + ">";
  }
  return out;
}

// A RAF whose embedded JPEG starts with an Exif segment holding `jpegTiff`, and whose own
// TIFF structure is `tiff`.
std::string rafWith(const std::string& jpegTiff, const std::string& tiff) {
  const std::string jpeg = std::string(
                               "\xFF\xD8\xFF\xE1\xFF\xFF"
                               "Exif\0\0",
                               12) +
                           jpegTiff;
  const size_t jpegAt = 108, tiffAt = jpegAt + jpeg.size();
  return "FUJIFILMCCD-RAW 0201FF383501" + std::string(56, '\0') + bigEndian32(jpegAt) +
         bigEndian32(jpeg.size()) + bigEndian32(tiffAt) + bigEndian32(tiff.size()) +
         bigEndian32(tiffAt) + bigEndian32(tiff.size()) + jpeg + tiff;
}

std::string box(const std::string& type, const std::string& payload) {
  return bigEndian32(8 + payload.size()) + type + payload;
}

// An ISO media file with the packet as Exiv2 finds it: an item of type "mime" that the item
// locations place in the media data.
std::string heifWith(const std::string& itemType, const std::string& xmp) {
  const std::string ftyp = box("ftyp", "heic" + std::string(4, '\0') + "mif1heic");
  const std::string infe = box("infe", std::string("\x02\0\0\0\0\x07\0\0", 8) + itemType + '\0' +
                                           "application/rdf+xml" + '\0');
  const auto meta = [&](size_t offset) {
    // Version 0, offsets and lengths of 4 bytes, one item (7) with one extent.
    const std::string iloc = box("iloc", std::string("\0\0\0\0\x44\0\0\x01\0\x07\0\0\0\x01", 14) +
                                             bigEndian32(offset) + bigEndian32(xmp.size()));
    return box("meta",
               std::string(4, '\0') + box("iinf", std::string("\0\0\0\0\0\x01", 6) + infe) + iloc);
  };
  const size_t mediaData = ftyp.size() + meta(0).size() + 8;
  return ftyp + meta(mediaData) + box("mdat", xmp);
}

TEST(XmpLimitsTest, PacketsInsidePhotosAreCheckedWhereExiv2ReadsThem) {
  const std::string ok = packet(description(incompressibleProperties(kMaxXmpSiblings)));
  const std::string tooMany = packet(description(incompressibleProperties(kMaxXmpSiblings + 1)));
  const std::string key = std::string("XML:com.adobe.xmp") + '\0';
  const std::string rawKey = std::string("Raw profile type xmp") + '\0';
  const std::string xmpUuid("\xbe\x7a\xcf\xcb\x97\xa9\x42\xe8\x9c\x71\x99\x94\x91\xe3\xaf\xac", 16);
  const auto hex = [](const std::string& s) {
    std::string out = "\nxmp\n" + std::to_string(s.size()) + "\n";
    for (const unsigned char c : s)
      out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
  };
  struct Kind {
    const char* what;
    std::function<std::string(const std::string&)> make;
    bool (*check)(std::string_view) = embeddedXmpWithinLimits;
  };
  const std::vector<Kind> kinds = {
      {"PNG iTXt",
       [&](const std::string& x) { return pngWith("iTXt", key + std::string(4, '\0') + x); }},
      {"PNG compressed iTXt",
       [&](const std::string& x) {
         return pngWith("iTXt", key + std::string("\1\0\0\0", 4) + deflated(x));
       }},
      {"PNG tEXt", [&](const std::string& x) { return pngWith("tEXt", key + x); }},
      {"PNG zTXt", [&](const std::string& x) { return pngWith("zTXt", key + '\0' + deflated(x)); }},
      {"PNG raw profile", [&](const std::string& x) { return pngWith("tEXt", rawKey + hex(x)); }},
      {"WebP", [&](const std::string& x) { return webpWith("XMP ", x); }},
      {"TIFF", [&](const std::string& x) { return tiffWith(x); }},
      {"PNG Exif", [&](const std::string& x) { return pngWith("eXIf", tiffWith(x)); }},
      {"WebP Exif",
       [&](const std::string& x) {
         return webpWith("EXIF", std::string("Exif\0\0", 6) + tiffWith(x));
       }},
      {"RAF JPEG", [&](const std::string& x) { return rafWith(tiffWith(x), tiffWith("")); }},
      {"RAF TIFF", [&](const std::string& x) { return rafWith(tiffWith(""), tiffWith(x)); }},
      {"HEIF item", [&](const std::string& x) { return heifWith("mime", x); },
       bmffNestingAcceptable},
      {"HEIF Exif item",
       [&](const std::string& x) { return heifWith("Exif", std::string(4, '\0') + tiffWith(x)); },
       bmffNestingAcceptable},
      {"CR3 box",  // XMP's UUID box
       [&](const std::string& x) {
         return box("ftyp", "crx " + std::string(4, '\0') + "crx isom") + box("uuid", xmpUuid + x);
       },
       bmffNestingAcceptable},
  };
  for (const auto& [what, make, check] : kinds) {
    EXPECT_TRUE(check(make(ok))) << what;
    EXPECT_FALSE(check(make(tooMany))) << what;
  }
}

// The reader applies the check: a PNG whose XMP holds the capture time is dated, unless the
// XMP holds more properties side by side than the limit.
TEST(XmpLimitsTest, CaptureTimesAreNotReadFromXmpBeyondTheLimit) {
  const auto png = [](int64_t properties) {
    const std::string xmp = packet(description(
        "<exif:DateTimeOriginal xmlns:exif='http://ns.adobe.com/exif/1.0/'>2026-12-07T14:03:22"
        "</exif:DateTimeOriginal>" +
        incompressibleProperties(properties)));
    return pngWith("iTXt", std::string("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmp);
  };
  TempDir dir;
  writeFile(dir.file("few.png"), png(10));
  writeFile(dir.file("too-many.png"), png(kMaxXmpSiblings));
  const std::optional<CaptureTime> few = readCaptureTime(dir.file("few.png"));
  ASSERT_TRUE(few);
  EXPECT_EQ(few->text, "2026-12-07T14:03:22");
  EXPECT_FALSE(readCaptureTime(dir.file("too-many.png")));
}

TEST(MetadataFindingsTest, ReadQuietlyAndMergeToAFixedPoint) {
  const std::string folder = VELTO_FUZZ_DIR "/regressions/metadata/";
  const std::vector<std::string> names = listFolder(folder);
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    (void)quietly([&] { return readCaptureTime(folder + name); });
    for (const std::optional<std::string>& leaf :
         {std::optional<std::string>("2026-12-07 14-03 (5 photos)"),
          std::optional<std::string>()}) {
      SidecarMerge first, second;
      std::string err;
      if (!mergeSeriesKeyword(readFile(folder + name), leaf, &first, &err)) {
        EXPECT_NE(err, "");
        continue;
      }
      if (!first.changed) continue;
      EXPECT_TRUE(mergeSeriesKeyword(first.bytes, leaf, &second, &err)) << err;
      EXPECT_FALSE(second.changed);
    }
  }
}

}  // namespace
}  // namespace velto::testing

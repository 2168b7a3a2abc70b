#pragma once
// Exiv2's process-wide settings, made once before its first use.

namespace velto {

// Silences Exiv2's own messages on standard error (a photo's metadata is never worth a line of
// ours), turns on its reading of HEIF and AVIF, and sets up its XMP toolkit. Idempotent.
void prepareExiv2();

}  // namespace velto

// How Romgate will read the version a packager writes into the manifest.
#ifndef ROMGATE_PACK_VERSION_CHECK_H
#define ROMGATE_PACK_VERSION_CHECK_H

#include <string>
#include <vector>

struct VersionCheck {
    std::string strRead;  // what the launcher reads, "major.minor.patch", or why nothing
    std::string strProblem;  // why that is not the version written; empty when it is
};

// The launcher reads the manifest with its own profile reader, read size and
// version parser, all linked here: strRead is their answer for
// "Version=<text>". A text is accepted when it spells a number, one to three
// components of decimal digits with single dots between them, and the
// launcher reads exactly that number (missing components are 0, as the
// launcher takes them).
VersionCheck CheckVersionText(const std::string& text);

// The same for a manifest as it stands: its Version text as written (read
// whole, with the launcher's reader) against what the launcher reads of it.
// *pText is that text; *pbFound false when the launcher finds no version.
VersionCheck CheckManifest(const std::string& manifest, std::string* pText, bool* pbFound);

// The manifest that holds the version, as Romgate reads it.
std::string ManifestFor(const std::string& version);

#endif  // ROMGATE_PACK_VERSION_CHECK_H

#pragma once
// The final order of a document before it is written: keys sorted by path, then the import-marker
// key split so that its "Pre" value opens the file and its "Post" value closes it.

#include <string_view>

#include "regfile/registry_document.h"

namespace orvex {

/// The key that holds the import markers, in the letter case the markers are written with.
inline constexpr std::u16string_view kImportMarkerKeyPath =
    u"HKEY_CURRENT_USER\\Software\\Quenlar\\Orvex Zoravudi\\ImportMarkers";
/// The marker value that must come before every other section.
inline constexpr std::u16string_view kPrologueMarkerName = u"Pre";
/// The marker value that must come after every other section.
inline constexpr std::u16string_view kEpilogueMarkerName = u"Post";

/// Orders the keys ascending by path under CompareIgnoreCase; keys with equal paths keep their
/// order. A key comes before its subkeys.
void SortKeys(RegistryDocument& document);

/// Moves the marker key's "Pre" value into a first section and its "Post" value into a last one,
/// dropping the key's other values. Reports through the log only; without the key or either
/// marker the document stays as it is.
void PlaceImportMarkers(RegistryDocument& document);

}  // namespace orvex

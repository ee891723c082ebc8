// Fuzz entry points of the catalogue: the record readers of TnC_DB.DAT, TnC_FILE.DAT and
// the field files, and Carica_Catalogo over a whole set of such files. libFuzzer runs them
// (-DTORVAN_FUZZ=ON with clang, scripts/fuzz), and catalogue_fuzz_test replays their
// corpora in every build. Each returns 0 and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvan::fuzz {

// Records of one kind: the first byte chooses it ("D" database, "F" file, any other field),
// the rest is the file's bytes.
int FuzzCatalogueRecords(const uint8_t* data, size_t size);

// The catalogue files of a base folder: TnC_DB.DAT, TnC_FILE.DAT, TnC_F_00001.DAT, ... in
// this order, separated by kCatalogueFileSeparator.
int FuzzCatalogueLoad(const uint8_t* data, size_t size);
inline constexpr std::string_view kCatalogueFileSeparator = "\n----\n";

}  // namespace torvan::fuzz

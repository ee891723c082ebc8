// Fuzz entry points of the settings: the settings file TnC.INI as Leggi_Parametri, the
// options form and the profile writer see it, and the parameter string with its scramble
// and the options form's typed values. libFuzzer runs them (-DTORVAN_FUZZ=ON with clang,
// scripts/fuzz), and config_fuzz_test replays their corpora in every build. Each returns 0
// and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::fuzz {

// The bytes of TnC.INI.
int FuzzSettingsFile(const uint8_t* data, size_t size);
// A plain or scrambled parameter string, and lines "Name=value" typed into the options form.
int FuzzParameterString(const uint8_t* data, size_t size);

}  // namespace torvan::fuzz

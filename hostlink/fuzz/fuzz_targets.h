// Fuzz entry points of the host link: the field decoder over random messages and
// catalogue-like positions, the reply reader (exchange, lines, greeting) over random
// byte streams from the host, and the character table file. libFuzzer runs them (built
// with -DTORVAN_FUZZ=ON and clang, scripts/fuzz), and hostlink_fuzz_test replays their
// corpora and a fixed set of pseudo-random inputs through them in every build. Each
// returns 0 and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::hostlink::fuzz {

int FuzzFieldDecode(const uint8_t* data, size_t size);
int FuzzReplyReader(const uint8_t* data, size_t size);
int FuzzCharTable(const uint8_t* data, size_t size);

}  // namespace torvan::hostlink::fuzz

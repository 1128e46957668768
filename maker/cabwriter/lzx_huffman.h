// Length-limited prefix codes (package-merge) and their canonical codewords.
#pragma once
#include <cstdint>

namespace lzx {

// Optimal code lengths for counts[0..n), none longer than maxLength; symbols
// with a zero count get length 0. A single used symbol gets length 1 (the
// caller makes sure at least two are used when decoders need a complete code).
void BuildCodeLengths(const uint32_t* counts, int n, int maxLength, uint8_t* lengths);

// Canonical codewords: shorter codes first, equal lengths in symbol order.
void BuildCodewords(const uint8_t* lengths, int n, uint16_t* codes);

}  // namespace lzx

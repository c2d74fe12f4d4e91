#pragma once

// How common each byte value is in the files people route: prose, source and markup, mail,
// logs and binaries together. Searches test the pattern bytes that turn up least, so that
// their vector filters rarely stop on a position that then fails.

#include <cstdint>

namespace ferry {

// 0 (almost never seen) to 255 (seen everywhere). A rough, fixed ranking: the filter only
// needs the order to be right for common cases, and a fixed one costs nothing per file.
int ByteCommonness(unsigned char b);

// The same as a rough share of all bytes, on a scale where each 16 steps of the ranking
// double it: what adds up when a test accepts several bytes (a letter and its capital).
uint32_t ByteWeight(unsigned char b);

} // namespace ferry

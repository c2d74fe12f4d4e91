#pragma once

// Hostile files made on the spot for the extraction tests: none of them is committed, the
// largest is 200 MB.

#include <cstdint>
#include <functional>
#include <string>

namespace ferry::test {

// A zip that says it is a Word file, whose document part inflates to `expanded` bytes of
// spaces. With `lying` its directory claims the part holds 1,000 bytes.
void WriteZipBomb(const std::string& path, uint64_t expanded, bool lying);

// An uncompressed 8-bit grey TIFF of width x height pixels; pixel(x, y) gives each one
// (all black, in a sparse file, when it is empty).
void WriteGreyTiff(const std::string& path, uint32_t width, uint32_t height,
                   const std::function<uint8_t(uint32_t, uint32_t)>& pixel);

// A one-page PDF whose page tree's only kid is the tree itself.
std::string LoopingPageTreePdf();

} // namespace ferry::test

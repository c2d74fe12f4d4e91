#include "hostile_files.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace ferry::test {

namespace {

void Put(std::string& s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct File {
    FILE* F;
    explicit File(const std::string& path) : F(std::fopen(path.c_str(), "wb")) {
        if (!F)
            throw std::runtime_error("cannot write " + path);
    }
    ~File() { std::fclose(F); }
    void Write(const void* p, std::size_t n) { std::fwrite(p, 1, n, F); }
    void Write(const std::string& s) { Write(s.data(), s.size()); }
};

// A stored-method zip entry's local header and data.
void LocalEntry(std::string& zip, std::string& central, const std::string& name,
                const std::string& data, uint16_t method, uint32_t crc, uint64_t size,
                uint64_t compressedSize) {
    const std::size_t offset = zip.size();
    std::string header;
    Put(header, 0x04034b50, 4);
    Put(header, 20, 2); // version needed
    Put(header, 0, 2);  // flags
    Put(header, method, 2);
    Put(header, 0, 4); // time, date
    Put(header, crc, 4);
    Put(header, compressedSize, 4);
    Put(header, size, 4);
    Put(header, name.size(), 2);
    Put(header, 0, 2);
    zip += header + name + data;
    Put(central, 0x02014b50, 4);
    Put(central, 20, 2);
    Put(central, 20, 2);
    Put(central, 0, 2);
    Put(central, method, 2);
    Put(central, 0, 4);
    Put(central, crc, 4);
    Put(central, compressedSize, 4);
    Put(central, size, 4);
    Put(central, name.size(), 2);
    Put(central, 0, 2); // extra
    Put(central, 0, 2); // comment
    Put(central, 0, 2); // disk
    Put(central, 0, 2); // internal attributes
    Put(central, 0, 4); // external attributes
    Put(central, offset, 4);
    central += name;
}

} // namespace

void WriteZipBomb(const std::string& path, uint64_t expanded, bool lying) {
    // A megabyte of spaces deflated with a full flush leaves the compressor as it began, so
    // the same bytes deflate the next megabyte too: the stream is that block repeated, then
    // an empty final block. Making a bomb costs one megabyte's compression.
    constexpr uInt Block = 1 << 20;
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> in(Block, ' '), out(2 * Block);
    z.next_in = in.data();
    z.avail_in = Block;
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FULL_FLUSH);
    const std::string block(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
    deflateEnd(&z);
    const uLong blockCrc = crc32(0, in.data(), Block);
    const uint64_t blocks = expanded / Block;
    std::string deflated;
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t i = 0; i < blocks; ++i) {
        deflated += block;
        crc = crc32_combine(crc, blockCrc, Block);
    }
    deflated += std::string("\x03\x00", 2); // a final fixed-Huffman block holding nothing
    expanded = blocks * Block;

    std::string zip, central;
    const std::string types = "<?xml version=\"1.0\"?><Types/>";
    LocalEntry(zip, central, "[Content_Types].xml", types, 0,
               crc32(0, reinterpret_cast<const Bytef*>(types.data()), types.size()), types.size(),
               types.size());
    LocalEntry(zip, central, "word/document.xml", deflated, 8, static_cast<uint32_t>(crc),
               lying ? 1000 : expanded, deflated.size());
    const std::size_t centralAt = zip.size();
    zip += central;
    Put(zip, 0x06054b50, 4);
    Put(zip, 0, 4);
    Put(zip, 2, 2);
    Put(zip, 2, 2);
    Put(zip, central.size(), 4);
    Put(zip, centralAt, 4);
    Put(zip, 0, 2);
    File(path).Write(zip);
}

void WriteGreyTiff(const std::string& path, uint32_t width, uint32_t height,
                   const std::function<uint8_t(uint32_t, uint32_t)>& pixel) {
    std::string h = "II*";
    h += '\0';
    Put(h, 8, 4); // the directory follows the header
    const int entries = 9;
    const uint32_t dataAt = 8 + 2 + entries * 12 + 4;
    Put(h, entries, 2);
    auto tag = [&](uint16_t id, uint16_t type, uint32_t value) {
        Put(h, id, 2);
        Put(h, type, 2);
        Put(h, 1, 4);
        Put(h, value, type == 3 ? 2 : 4);
        if (type == 3)
            Put(h, 0, 2);
    };
    tag(256, 4, width);
    tag(257, 4, height);
    tag(258, 3, 8); // bits per sample
    tag(259, 3, 1); // no compression
    tag(262, 3, 1); // black is zero
    tag(273, 4, dataAt);
    tag(277, 3, 1); // samples per pixel
    tag(278, 4, height);
    tag(279, 4, width * height);
    Put(h, 0, 4);
    File f(path);
    f.Write(h);
    if (!pixel) {
        // all black, and sparse: the file is its full size without the disk writing it
        std::fflush(f.F);
        if (ftruncate(fileno(f.F), static_cast<off_t>(dataAt) + off_t(width) * height) != 0)
            throw std::runtime_error("cannot size " + path);
        return;
    }
    std::vector<uint8_t> row(width);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            row[x] = pixel(x, y);
        f.Write(row.data(), row.size());
    }
}

std::string LoopingPageTreePdf() {
    const char* objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
        "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (int i = 0; i < 3; ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 4\n0000000000 65535 f \n";
    for (std::size_t o : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace ferry::test

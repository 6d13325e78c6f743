// Wraps a raw flash image into a DfuSe file: format version 1, one target for
// alternate setting 0, one element at 0x08000000, DFU suffix for 0483:df11.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr std::uint32_t elementAddress = 0x08000000;

void put8(std::vector<std::uint8_t> &out, std::uint32_t v) { out.push_back(std::uint8_t(v)); }
void put16(std::vector<std::uint8_t> &out, std::uint32_t v) { put8(out, v); put8(out, v >> 8); }
void put32(std::vector<std::uint8_t> &out, std::uint32_t v) { put16(out, v); put16(out, v >> 16); }
void putText(std::vector<std::uint8_t> &out, const char *text) { while (*text) put8(out, std::uint8_t(*text++)); }

std::vector<std::uint8_t> dfuseFile(const std::vector<std::uint8_t> &image)
{
    std::vector<std::uint8_t> target;
    putText(target, "Target");
    put8(target, 0);               // bAlternateSetting
    put32(target, 1);              // bTargetNamed
    std::vector<std::uint8_t> name(255, 0);
    const char targetName[] = "Internal Flash";
    std::copy(targetName, targetName + sizeof targetName - 1, name.begin());
    target.insert(target.end(), name.begin(), name.end());
    put32(target, std::uint32_t(8 + image.size())); // dwTargetSize: the elements
    put32(target, 1);              // dwNbElements
    put32(target, elementAddress);
    put32(target, std::uint32_t(image.size()));
    target.insert(target.end(), image.begin(), image.end());

    std::vector<std::uint8_t> out;
    putText(out, "DfuSe");
    put8(out, 0x01);                                 // bVersion
    put32(out, std::uint32_t(11 + target.size()));   // DFUImageSize, without the suffix
    put8(out, 1);                                    // bTargets
    out.insert(out.end(), target.begin(), target.end());

    put16(out, 0xFFFF);  // bcdDevice: any
    put16(out, 0xDF11);  // idProduct
    put16(out, 0x0483);  // idVendor
    put16(out, 0x011A);  // bcdDFU: DfuSe
    putText(out, "UFD");
    put8(out, 16);       // bLength
    // The suffix CRC is the CRC-32 register without its final inversion.
    const std::uint32_t crc = ~std::uint32_t(crc32(0L, out.data(), uInt(out.size())));
    put32(out, crc);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE.bin OUTPUT.dfu\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::vector<std::uint8_t> file = dfuseFile(image);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}

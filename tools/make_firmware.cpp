// Writes a deterministic stand-in firmware image for the Arc-31: a Cortex-M
// vector table, the firmware-information block and filler, 788000 bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t imageSize = 788000;
constexpr std::uint32_t flashBase = 0x08000000;
constexpr std::size_t vectorCount = 98; // STM32F4: 16 core + 82 peripheral vectors
constexpr std::size_t blockOffset = 0x200;

void putWord(std::vector<std::uint8_t> &image, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putField(std::vector<std::uint8_t> &image, std::size_t offset, const std::string &text)
{
    std::memset(&image[offset], 0, 32);
    std::memcpy(&image[offset], text.data(), text.size() < 31 ? text.size() : 31);
}

void writeVectorTable(std::vector<std::uint8_t> &image)
{
    putWord(image, 0, 0x20020000);                      // initial stack pointer: end of SRAM1
    for (std::size_t i = 1; i < vectorCount; ++i) {
        const std::uint32_t handler = i == 1 ? 0x000009A0 : 0x00000A00 + 4 * std::uint32_t(i);
        putWord(image, 4 * i, (flashBase + handler) | 1u); // Thumb bit
    }
}

void writeInfoBlock(std::vector<std::uint8_t> &image)
{
    const std::vector<std::pair<std::string, std::string>> details = {
        {"Creation date", "2026-11-20"},
        {"Creation time", "14:32:07"},
        {"FW git hash", "9f3c2a1e7b5d4c60"},
        {"FW core git hash", "4e81b07c2d9a3f15"},
        {"FW flash driver git hash", "c72d5e90a1b4f836"},
        {"FW radio stack git hash", "1a6f93e2b8c0d475"},
        {"FW UI assets git hash", "8d04c1f7e3a29b56"},
        {"Git tag", "arc31-v2.4.0"},
        {"Compiler", "arm-none-eabi-gcc 12.2.1"},
    };
    std::size_t at = blockOffset;
    putWord(image, at, 0x01234712);
    putWord(image, at + 4, 0xFFFFFF04); // type 4 (BRVA), subtype FF FF FF
    putField(image, at + 8, "Arc-31 main firmware");
    putField(image, at + 40, "2.4.0");
    at += 72;
    for (const auto &[key, value] : details) {
        putField(image, at, key);
        putField(image, at + 32, value);
        at += 64;
    }
    putWord(image, at, 0x01234713);
}

// Code-like filler from a fixed-seed xorshift generator: the same bytes on every build.
void writeFiller(std::vector<std::uint8_t> &image, std::size_t from)
{
    std::uint32_t state = 0x2545F491;
    for (std::size_t i = from; i < image.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<std::uint8_t> image(imageSize, 0);
    writeVectorTable(image);
    writeInfoBlock(image);
    writeFiller(image, 0x800);

    std::FILE *out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}

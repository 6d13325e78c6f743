#include "unit_memory.h"

#include <algorithm>
#include <map>
#include <memory>

namespace vunit {

namespace {

constexpr std::int64_t flushIntervalMs = 250;

std::map<std::string, std::unique_ptr<UnitMemory>> &memories()
{
    static auto *all = new std::map<std::string, std::unique_ptr<UnitMemory>>;
    return *all;
}

// A missing or short file reads as erased memory, so a unit never fails to load.
Bytes loadImage(const std::string &path, std::size_t size)
{
    std::string content;
    readFile(path, content);
    Bytes image(size, 0xFF);
    std::copy_n(content.begin(), std::min(content.size(), size), image.begin());
    return image;
}

} // namespace

bool sectorAt(std::uint32_t flashOffset, Sector &sector)
{
    if (flashOffset >= flashSize)
        return false;
    if (flashOffset < 0x10000)
        sector = {flashOffset & ~0x3FFFu, 0x4000};
    else if (flashOffset < 0x20000)
        sector = {0x10000, 0x10000};
    else
        sector = {flashOffset & ~0x1FFFFu, 0x20000};
    return true;
}

UnitMemory::UnitMemory(const std::string &unitDir)
    : dir_(unitDir),
      flash_(loadImage(unitFile(unitDir, "flash.bin"), flashSize)),
      otp_(loadImage(unitFile(unitDir, "otp.bin"), otpSize)),
      lastFlushMs_(nowMs())
{
}

UnitMemory &UnitMemory::of(const std::string &unitDir)
{
    auto &slot = memories()[unitDir];
    if (!slot)
        slot.reset(new UnitMemory(unitDir));
    return *slot;
}

void UnitMemory::flushAll()
{
    for (auto &entry : memories())
        entry.second->flush();
}

void UnitMemory::changed()
{
    dirty_ = true;
    if (nowMs() - lastFlushMs_ >= flushIntervalMs)
        flush();
}

void UnitMemory::flush()
{
    if (!dirty_)
        return;
    writeFileAtomic(unitFile(dir_, "flash.bin"), std::string(flash_.begin(), flash_.end()));
    writeFileAtomic(unitFile(dir_, "otp.bin"), std::string(otp_.begin(), otp_.end()));
    dirty_ = false;
    lastFlushMs_ = nowMs();
}

} // namespace vunit

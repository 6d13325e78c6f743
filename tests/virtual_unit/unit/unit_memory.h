#pragma once
// Flash and OTP contents of one unit, held in memory for the life of the
// process and written back to flash.bin and otp.bin. Writes go out at most
// every few hundred milliseconds during a download, and always before the unit
// leaves the bus, when a handle closes and when the process exits (dfu-util
// leaves through exit() on most errors, without closing anything).

#include "unit_store.h"

#include <cstdint>
#include <string>

namespace vunit {

// The STM32F4's flash sectors: four of 16 KiB, one of 64 KiB, seven of 128 KiB.
struct Sector {
    std::uint32_t offset;
    std::uint32_t size;
};
bool sectorAt(std::uint32_t flashOffset, Sector &sector);

class UnitMemory
{
public:
    static UnitMemory &of(const std::string &unitDir);
    static void flushAll();

    Bytes &flash() { return flash_; }
    Bytes &otp() { return otp_; }
    void changed();      // after a change; writes back when enough time has passed
    void flush();        // writes back now, if anything changed

private:
    explicit UnitMemory(const std::string &unitDir);
    std::string dir_;
    Bytes flash_;
    Bytes otp_;
    bool dirty_ = false;
    std::int64_t lastFlushMs_ = 0;
};

} // namespace vunit

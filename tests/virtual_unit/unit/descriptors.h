#pragma once
// USB descriptors of the STM32F4 ROM bootloader in DFU mode, as the virtual
// unit presents them; the listing faults change them here.

#include "unit_store.h"

#include <optional>
#include <string>

namespace vunit {

constexpr std::uint16_t vendorId = 0x0483;
constexpr std::uint16_t productId = 0xDF11;
constexpr std::uint16_t bootloaderBcdDevice = 0x2200;
constexpr std::uint16_t dfuseVersion = 0x011A;
constexpr std::uint16_t transferSize = 2048;
constexpr std::uint8_t dfuFunctionalType = 0x21;
constexpr int interfaceCount = 4;
extern const char *const interfaceNames[interfaceCount];

// What a unit looks like on the bus at one enumeration.
struct DeviceModel {
    std::string dir;
    std::uint16_t bcdDevice = bootloaderBcdDevice;
    std::string serial; // empty: the device has no serial-number string
    int altCount = interfaceCount;
    std::uint64_t generation = 0;
    int port = 1; // 1-based position on the virtual bus

    static DeviceModel load(const std::string &dir, int port, std::uint64_t generation);
    std::uint8_t address() const { return std::uint8_t(port + 1); } // 1 is the root hub
};

enum StringIndex : std::uint8_t {
    manufacturerString = 1,
    productString = 2,
    serialString = 3,
    firstInterfaceString = 4,
};

Bytes deviceDescriptor(const DeviceModel &model);
Bytes interfaceDescriptor(int alt);
Bytes functionalDescriptor();
Bytes configDescriptor(const DeviceModel &model); // the whole wTotalLength bytes
std::optional<Bytes> stringDescriptor(const DeviceModel &model, std::uint8_t index);

} // namespace vunit

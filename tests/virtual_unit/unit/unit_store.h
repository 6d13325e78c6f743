#pragma once
// On-disk state of a virtual Arc-31 in DFU mode. Every dfu-util run is a new
// process, so everything that must outlive one run lives in the unit's
// directory; the virtual-unit helper and the libusb stand-in both go through
// these functions so that they agree on names and formats.
//
// Unit directory (one per unit, inside the directory named by VIRTUAL_DFU_UNITS):
//   flash.bin      1 MiB, the internal flash from 0x08000000
//   otp.bin        528 bytes, the OTP area from 0x1FFF7800 (512 data + 16 lock bytes)
//   serial         the USB serial-number string
//   bus            "attached G", "detached G" or "rebooting G UNTIL_MS"; G counts
//                  attachments, so a handle from before a re-plug stays dead
//   return_delay_ms  how long a unit stays away after leaving DFU mode (default 3000)
//   timing         "fast" (default) or "realistic"
//   dfu_state      "G STATE STATUS POINTER": DFU state that survives between runs
//   faults/NAME    one file per active fault, holding its argument
//   stalled        exists while a stalled upload holds dfu-util
//   lock           flock()ed while a process has the DFU interface claimed

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vunit {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t flashBase = 0x08000000;
constexpr std::uint32_t flashSize = 0x100000;
constexpr std::uint32_t otpBase = 0x1FFF7800;
constexpr std::uint32_t otpSize = 528;
constexpr std::uint32_t optionBytesBase = 0x1FFFC000;
constexpr std::uint32_t optionBytesSize = 16;
constexpr std::uint32_t featureBase = 0xFFFF0000;
constexpr std::uint32_t featureSize = 4;
constexpr int defaultReturnDelayMs = 3000;

// Fault names understood by the unit.
namespace fault {
constexpr const char *stallOtpUpload = "stall-otp-upload";   // [SECONDS], default 600
constexpr const char *vanishAfter = "vanish-after";          // BYTES of download data
constexpr const char *stuckByte = "stuck-byte";              // flash OFFSET that never programs
constexpr const char *bcdDevice = "bcd-device";              // HEX device version
constexpr const char *noSerial = "no-serial";
constexpr const char *threeInterfaces = "three-interfaces";
constexpr const char *leaveStatusError = "leave-status-error"; // status request after leave fails
constexpr const char *accessDenied = "access-denied";          // open fails with LIBUSB_ERROR_ACCESS
} // namespace fault
bool isKnownFault(const std::string &name);
std::vector<std::string> knownFaults();

std::string unitFile(const std::string &unitDir, const std::string &name);
std::int64_t nowMs(); // wall clock, comparable between processes

bool readFile(const std::string &path, std::string &content);
bool writeFileAtomic(const std::string &path, const std::string &content);
std::string readText(const std::string &path, const std::string &fallback = {}); // first line, trimmed
bool parseNumber(const std::string &text, std::uint64_t &value); // decimal, or hex after 0x

struct BusState {
    enum Kind { Attached, Detached, Rebooting };
    Kind kind = Detached;
    std::uint64_t generation = 0;
    std::int64_t returnsAtMs = 0;

    // A rebooting unit whose time has come counts as attached, one generation on.
    BusState effective(std::int64_t now) const;
    bool present(std::int64_t now) const { return effective(now).kind == Attached; }
    std::string text() const;
};
BusState readBus(const std::string &unitDir);
bool writeBus(const std::string &unitDir, const BusState &state);

std::optional<std::string> faultArgument(const std::string &unitDir, const std::string &name);
bool setFault(const std::string &unitDir, const std::string &name, const std::string &argument);
void clearFault(const std::string &unitDir, const std::string &name);
std::vector<std::string> activeFaults(const std::string &unitDir);

bool realisticTiming(const std::string &unitDir);
int returnDelayMs(const std::string &unitDir);

// Unit directories on the bus, sorted by name: the position is the unit's port.
std::vector<std::string> unitDirectories(const std::string &busDir);

} // namespace vunit

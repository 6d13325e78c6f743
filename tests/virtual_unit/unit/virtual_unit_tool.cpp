// virtual-unit: creates and changes virtual Arc-31 units for the libusb
// stand-in (libusb-1.0.so.0 in this directory's build output).
//
//   virtual-unit create DIR --serial S [--firmware IMAGE.bin] [--otp-type N]
//                [--otp-subtype HEXHEXHEX] [--otp-extra 16HEX] [--blank-otp]
//                [--return-delay MS] [--timing realistic|fast] [--unplugged]
//   virtual-unit firmware DIR IMAGE.bin     flash erased, IMAGE.bin at 0x08000000
//   virtual-unit plug DIR | unplug DIR
//   virtual-unit fault DIR NAME [ARG]       set a fault (names below)
//   virtual-unit fault DIR NAME off         clear one fault
//   virtual-unit fault DIR none             clear all faults
//   virtual-unit timing DIR realistic|fast
//   virtual-unit return-delay DIR MS        how long a unit is away after leaving DFU mode
//   virtual-unit show DIR
//
// DIR is the unit's own directory inside the directory that VIRTUAL_DFU_UNITS
// names for dfu-util. The OTP record is written to slot 0: marker 11 47 23 01,
// the type byte, three subtype bytes (default FFFFFF) and eight extra bytes
// (default zero); --blank-otp leaves the OTP erased. Exit code 0 on success, 2 on
// a usage error, 1 when the unit cannot be written.
//
// Faults: stall-otp-upload [SECONDS]   OTP uploads hang until unplug, clear or timeout
//         vanish-after BYTES           the unit drops off the bus after BYTES of download data
//         stuck-byte OFFSET            that flash offset never programs
//         bcd-device HEX               another device version
//         no-serial                    no serial-number string
//         three-interfaces             alternate settings 0 to 2 only
//         leave-status-error           the status request after the leave request fails
//         access-denied                opening the device fails with LIBUSB_ERROR_ACCESS

#include "dfu_session.h"
#include "unit_memory.h"
#include "unit_store.h"

#include <signal.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace vunit;

namespace {

int usage()
{
    std::fputs("usage: virtual-unit create DIR --serial S [--firmware IMAGE.bin] [--otp-type N]\n"
               "                    [--otp-subtype HEX6] [--otp-extra HEX16] [--blank-otp]\n"
               "                    [--return-delay MS] [--timing realistic|fast] [--unplugged]\n"
               "       virtual-unit firmware DIR IMAGE.bin\n"
               "       virtual-unit plug|unplug|show DIR\n"
               "       virtual-unit fault DIR NAME [ARG|off] | fault DIR none\n"
               "       virtual-unit timing DIR realistic|fast\n"
               "       virtual-unit return-delay DIR MS\n",
               stderr);
    return 2;
}

int failure(const std::string &message)
{
    std::fprintf(stderr, "virtual-unit: %s\n", message.c_str());
    return 1;
}

bool parseHex(const std::string &text, std::size_t bytes, Bytes &out)
{
    if (text.size() != 2 * bytes)
        return false;
    out.clear();
    for (std::size_t i = 0; i < bytes; ++i) {
        std::uint64_t v = 0;
        if (!std::isxdigit(static_cast<unsigned char>(text[2 * i]))
            || !std::isxdigit(static_cast<unsigned char>(text[2 * i + 1]))
            || !parseNumber("0x" + text.substr(2 * i, 2), v))
            return false;
        out.push_back(std::uint8_t(v));
    }
    return true;
}

bool writeBytes(const std::string &path, const Bytes &bytes)
{
    return writeFileAtomic(path, std::string(bytes.begin(), bytes.end()));
}

bool flashWithImage(const std::string &dir, const std::string &image)
{
    std::string content;
    if (!readFile(image, content) || content.size() > flashSize)
        return false;
    Bytes flash(flashSize, 0xFF);
    std::copy(content.begin(), content.end(), flash.begin());
    return writeBytes(unitFile(dir, "flash.bin"), flash);
}

int create(const std::string &dir, const std::vector<std::string> &args)
{
    std::string serial, firmware, timing = "fast";
    std::uint64_t otpType = 4, returnDelay = defaultReturnDelayMs;
    Bytes subtype{0xFF, 0xFF, 0xFF}, extra(8, 0x00);
    bool blankOtp = false, unplugged = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &option = args[i];
        const bool hasValue = i + 1 < args.size();
        if (option == "--blank-otp") {
            blankOtp = true;
        } else if (option == "--unplugged") {
            unplugged = true;
        } else if (!hasValue) {
            return usage();
        } else if (option == "--serial") {
            serial = args[++i];
        } else if (option == "--firmware") {
            firmware = args[++i];
        } else if (option == "--otp-type") {
            if (!parseNumber(args[++i], otpType) || otpType > 255)
                return usage();
        } else if (option == "--otp-subtype") {
            if (!parseHex(args[++i], 3, subtype))
                return usage();
        } else if (option == "--otp-extra") {
            if (!parseHex(args[++i], 8, extra))
                return usage();
        } else if (option == "--return-delay") {
            if (!parseNumber(args[++i], returnDelay) || returnDelay > 3600000)
                return usage();
        } else if (option == "--timing") {
            timing = args[++i];
            if (timing != "fast" && timing != "realistic")
                return usage();
        } else {
            return usage();
        }
    }
    if (serial.empty())
        return usage();

    mkdir(dir.c_str(), 0755);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return failure("cannot create " + dir);
    for (const auto &name : knownFaults())
        clearFault(dir, name);
    mkdir(unitFile(dir, "faults").c_str(), 0755);
    std::remove(unitFile(dir, "dfu_state").c_str());
    std::remove(unitFile(dir, "stalled").c_str());

    Bytes otp(otpSize, 0xFF);
    if (!blankOtp) {
        const Bytes record{0x11, 0x47, 0x23, 0x01, std::uint8_t(otpType)};
        std::copy(record.begin(), record.end(), otp.begin());
        std::copy(subtype.begin(), subtype.end(), otp.begin() + 5);
        std::copy(extra.begin(), extra.end(), otp.begin() + 8);
    }
    const bool flashOk = firmware.empty() ? writeBytes(unitFile(dir, "flash.bin"), Bytes(flashSize, 0xFF))
                                          : flashWithImage(dir, firmware);
    if (!flashOk)
        return failure("cannot write the flash of " + dir + " (image missing or larger than 1 MiB?)");

    BusState bus;
    bus.kind = unplugged ? BusState::Detached : BusState::Attached;
    bus.generation = 1;
    if (!writeBytes(unitFile(dir, "otp.bin"), otp)
        || !writeFileAtomic(unitFile(dir, "serial"), serial + "\n")
        || !writeFileAtomic(unitFile(dir, "timing"), timing + "\n")
        || !writeFileAtomic(unitFile(dir, "return_delay_ms"), std::to_string(returnDelay) + "\n")
        || !writeBus(dir, bus))
        return failure("cannot write " + dir);
    return 0;
}

bool isUnit(const std::string &dir)
{
    struct stat st {};
    return stat(unitFile(dir, "bus").c_str(), &st) == 0;
}

int plug(const std::string &dir, bool attach)
{
    BusState bus = readBus(dir).effective(nowMs());
    if (attach && bus.kind != BusState::Attached) {
        bus.kind = BusState::Attached;
        ++bus.generation; // a new enumeration: old handles stay dead
    } else if (!attach) {
        bus.kind = BusState::Detached;
    }
    bus.returnsAtMs = 0;
    return writeBus(dir, bus) ? 0 : failure("cannot write " + dir);
}

int setFaultCommand(const std::string &dir, const std::vector<std::string> &args)
{
    if (args.empty() || args.size() > 2)
        return usage();
    const std::string &name = args[0];
    if (name == "none" && args.size() == 1) {
        for (const auto &known : knownFaults())
            clearFault(dir, known);
        return 0;
    }
    if (!isKnownFault(name)) {
        std::fprintf(stderr, "virtual-unit: unknown fault %s\n", name.c_str());
        return 2;
    }
    if (args.size() == 2 && args[1] == "off") {
        clearFault(dir, name);
        return 0;
    }
    const bool needsArgument = name == fault::vanishAfter || name == fault::stuckByte || name == fault::bcdDevice;
    if (needsArgument && args.size() != 2)
        return usage();
    return setFault(dir, name, args.size() == 2 ? args[1] : std::string()) ? 0 : failure("cannot write " + dir);
}

int show(const std::string &dir)
{
    const std::int64_t now = nowMs();
    const BusState stored = readBus(dir);
    const BusState bus = stored.effective(now);
    std::printf("unit: %s\n", dir.c_str());
    std::printf("serial: %s\n", readText(unitFile(dir, "serial")).c_str());
    std::printf("present: %s\n", bus.kind == BusState::Attached ? "yes" : "no");
    if (stored.kind == BusState::Rebooting && bus.kind != BusState::Attached)
        std::printf("bus: rebooting, back in %lld ms\n", (long long)(stored.returnsAtMs - now));
    else
        std::printf("bus: %s\n", bus.text().c_str());
    std::printf("timing: %s\n", realisticTiming(dir) ? "realistic" : "fast");
    std::printf("return-delay-ms: %d\n", returnDelayMs(dir));
    for (const auto &name : activeFaults(dir))
        std::printf("fault: %s %s\n", name.c_str(), faultArgument(dir, name)->c_str());
    std::istringstream state(readText(unitFile(dir, "dfu_state")));
    std::uint64_t generation = 0;
    unsigned dfuState = 0, status = 0;
    std::string pointer;
    if (state >> generation >> dfuState >> status >> pointer && generation == bus.generation)
        std::printf("dfu-state: %s, status %u, address pointer %s\n", dfuStateName(int(dfuState)), status,
                    pointer.c_str());
    else
        std::printf("dfu-state: dfuIDLE\n");
    // A killed dfu-util leaves its marker behind; only a live holder counts.
    std::uint64_t holder = 0;
    if (parseNumber(readText(unitFile(dir, "stalled")), holder) && holder > 0 && holder < 1u << 31
        && kill(pid_t(holder), 0) == 0)
        std::printf("stalled: upload held by process %llu\n", (unsigned long long)holder);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    const std::string dir = argv[2];
    const std::vector<std::string> args(argv + 3, argv + argc);
    if (command == "create")
        return create(dir, args);
    if (!isUnit(dir))
        return failure(dir + " is not a virtual unit");
    if (command == "firmware" && args.size() == 1)
        return flashWithImage(dir, args[0]) ? 0 : failure("cannot write the flash of " + dir);
    if (command == "plug" && args.empty())
        return plug(dir, true);
    if (command == "unplug" && args.empty())
        return plug(dir, false);
    if (command == "fault")
        return setFaultCommand(dir, args);
    if (command == "timing" && args.size() == 1 && (args[0] == "fast" || args[0] == "realistic"))
        return writeFileAtomic(unitFile(dir, "timing"), args[0] + "\n") ? 0 : failure("cannot write " + dir);
    if (command == "return-delay" && args.size() == 1) {
        std::uint64_t ms = 0;
        if (!parseNumber(args[0], ms) || ms > 3600000)
            return usage();
        return writeFileAtomic(unitFile(dir, "return_delay_ms"), args[0] + "\n") ? 0 : failure("cannot write " + dir);
    }
    if (command == "show" && args.empty())
        return show(dir);
    return usage();
}

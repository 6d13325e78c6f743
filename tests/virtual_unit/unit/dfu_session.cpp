#include "dfu_session.h"

#include "libusb_abi.h"
#include "unit_memory.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vunit {

namespace {

enum DfuRequest : std::uint8_t {
    DFU_DETACH = 0,
    DFU_DNLOAD = 1,
    DFU_UPLOAD = 2,
    DFU_GETSTATUS = 3,
    DFU_CLRSTATUS = 4,
    DFU_GETSTATE = 5,
    DFU_ABORT = 6,
};

enum DfuseCommand : std::uint8_t {
    cmdGetCommands = 0x00,
    cmdSetAddressPointer = 0x21,
    cmdErase = 0x41,
    cmdReadUnprotect = 0x92,
};

constexpr int defaultStallSeconds = 600;
constexpr int stallPollMs = 20;

// Factory option bytes of an unprotected STM32F4 and a zero feature word.
const std::uint8_t optionBytes[optionBytesSize] = {0xED, 0xAA, 0x12, 0x55, 0xFF, 0xFF, 0xFF, 0xFF,
                                                   0xFF, 0x0F, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
const std::uint8_t featureBytes[featureSize] = {0x00, 0x00, 0x00, 0x00};

bool tracing()
{
    static const bool on = std::getenv("VIRTUAL_DFU_TRACE") != nullptr;
    return on;
}

__attribute__((format(printf, 1, 2))) void trace(const char *format, ...)
{
    if (!tracing())
        return;
    std::fprintf(stderr, "[virtual unit %d] ", int(getpid()));
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::uint32_t eraseMs(std::uint32_t sectorSize)
{
    // Typical STM32F4 sector erase times at 3.3 V, x32 parallelism.
    if (sectorSize <= 0x4000)
        return 250;
    if (sectorSize <= 0x10000)
        return 500;
    return 1000;
}

std::uint32_t programMs(std::size_t length)
{
    // About 16 ms per 2048-byte block, including the bootloader's own work.
    return std::uint32_t(std::max<std::size_t>(1, (length * 16 + 2047) / 2048));
}

std::uint64_t numericFault(const std::string &dir, const char *name, std::uint64_t fallback)
{
    std::uint64_t value = fallback;
    if (const auto arg = faultArgument(dir, name))
        parseNumber(*arg, value);
    return value;
}

} // namespace

const char *dfuStateName(int state)
{
    static const char *const names[] = {"appIDLE", "appDETACH", "dfuIDLE", "dfuDNLOAD-SYNC",
                                        "dfuDNBUSY", "dfuDNLOAD-IDLE", "dfuMANIFEST-SYNC",
                                        "dfuMANIFEST", "dfuMANIFEST-WAIT-RESET",
                                        "dfuUPLOAD-IDLE", "dfuERROR"};
    return state >= 0 && state <= dfuERROR ? names[state] : "invalid";
}

DfuSession::DfuSession(const DeviceModel &model) : model_(model)
{
    // The bootloader keeps its state between dfu-util runs, until the unit
    // re-enumerates.
    std::istringstream in(readText(unitFile(model_.dir, "dfu_state")));
    std::uint64_t generation = 0;
    unsigned state = 0, status = 0;
    std::uint32_t pointer = 0;
    if (in >> generation >> state >> status >> std::hex >> pointer
        && generation == model_.generation && state <= dfuERROR) {
        state_ = DfuState(state);
        status_ = DfuStatus(status);
        pointer_ = pointer;
        if (state_ == dfuDNLOAD_SYNC || state_ == dfuDNBUSY)
            state_ = dfuDNLOAD_IDLE; // the operation finished while nobody asked
        else if (state_ < dfuIDLE || state_ == dfuMANIFEST || state_ == dfuMANIFEST_WAIT_RESET)
            state_ = dfuIDLE;
    }
    savedState_ = readText(unitFile(model_.dir, "dfu_state"));
}

DfuSession::~DfuSession()
{
    save();
}

bool DfuSession::present() const
{
    const BusState bus = readBus(model_.dir).effective(nowMs());
    return bus.kind == BusState::Attached && bus.generation == model_.generation;
}

void DfuSession::save()
{
    UnitMemory::flushAll();
    char text[64];
    std::snprintf(text, sizeof text, "%llu %u %u 0x%08X", (unsigned long long)model_.generation,
                  unsigned(state_), unsigned(status_), unsigned(pointer_));
    if (text != savedState_ && present()) {
        writeFileAtomic(unitFile(model_.dir, "dfu_state"), std::string(text) + "\n");
        savedState_ = text;
    }
}

int DfuSession::setAltSetting(int alt)
{
    if (!present())
        return LIBUSB_ERROR_NO_DEVICE;
    if (alt < 0 || alt >= model_.altCount)
        return LIBUSB_ERROR_NOT_FOUND;
    alt_ = alt;
    return LIBUSB_SUCCESS;
}

int DfuSession::reset()
{
    if (!present())
        return LIBUSB_ERROR_NO_DEVICE;
    state_ = dfuIDLE;
    status_ = statusOK;
    pending_ = Operation::None;
    return LIBUSB_SUCCESS;
}

int DfuSession::controlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::uint8_t *data, std::uint16_t length)
{
    if (length && !data)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!present())
        return LIBUSB_ERROR_NO_DEVICE;
    const bool in = requestType & 0x80;
    const int type = (requestType >> 5) & 3;
    const int recipient = requestType & 0x1F;
    if (type == 0 && in)
        return standardRequest(request, value, data, length);
    if (type == 1 && recipient == 1 && index == 0)
        return classRequest(in, request, value, data, length);
    return LIBUSB_ERROR_PIPE;
}

int DfuSession::standardRequest(std::uint8_t request, std::uint16_t value, std::uint8_t *data,
                                std::uint16_t length)
{
    Bytes reply;
    switch (request) {
    case 0x00: // GET_STATUS
        reply = {0, 0};
        break;
    case 0x06: { // GET_DESCRIPTOR
        const std::uint8_t index = std::uint8_t(value);
        switch (value >> 8) {
        case 0x01:
            reply = deviceDescriptor(model_);
            break;
        case 0x02:
            if (index != 0)
                return LIBUSB_ERROR_PIPE;
            reply = configDescriptor(model_);
            break;
        case 0x03: {
            const auto string = stringDescriptor(model_, index);
            if (!string)
                return LIBUSB_ERROR_PIPE;
            reply = *string;
            break;
        }
        case dfuFunctionalType:
            reply = functionalDescriptor();
            break;
        default:
            return LIBUSB_ERROR_PIPE;
        }
        break;
    }
    case 0x08: // GET_CONFIGURATION
        reply = {1};
        break;
    case 0x0A: // GET_INTERFACE
        reply = {std::uint8_t(alt_)};
        break;
    default:
        return LIBUSB_ERROR_PIPE;
    }
    const std::size_t n = std::min<std::size_t>(length, reply.size());
    std::copy_n(reply.begin(), n, data);
    return int(n);
}

int DfuSession::classRequest(bool in, std::uint8_t request, std::uint16_t value,
                             std::uint8_t *data, std::uint16_t length)
{
    const bool expectsIn = request == DFU_UPLOAD || request == DFU_GETSTATUS || request == DFU_GETSTATE;
    if (in != expectsIn || request > DFU_ABORT)
        return stall();
    switch (request) {
    case DFU_DNLOAD:
        return download(value, data, length);
    case DFU_UPLOAD:
        return upload(value, data, length);
    case DFU_GETSTATUS:
        return getStatus(data, length);
    case DFU_CLRSTATUS:
        trace("CLRSTATUS in state %u", unsigned(state_));
        state_ = dfuIDLE;
        status_ = statusOK;
        pending_ = Operation::None;
        return 0;
    case DFU_GETSTATE:
        if (length < 1)
            return LIBUSB_ERROR_PIPE;
        data[0] = state_;
        return 1;
    case DFU_ABORT:
        if (state_ == dfuERROR || state_ == dfuDNBUSY || state_ == dfuMANIFEST)
            return stall();
        state_ = dfuIDLE;
        pending_ = Operation::None;
        return 0;
    default: // DFU_DETACH: the ROM bootloader is already in DFU mode
        return stall();
    }
}

int DfuSession::stall()
{
    trace("stall in state %u", unsigned(state_));
    state_ = dfuERROR;
    status_ = errSTALLEDPKT;
    return LIBUSB_ERROR_PIPE;
}

DfuSession::Region DfuSession::region() const
{
    switch (alt_) {
    case 0:
        return {flashBase, flashSize, true};
    case 1:
        return {optionBytesBase, optionBytesSize, false};
    case 2:
        return {otpBase, otpSize, true};
    default:
        return {featureBase, featureSize, false};
    }
}

int DfuSession::download(std::uint16_t block, const std::uint8_t *data, std::uint16_t length)
{
    if (state_ != dfuIDLE && state_ != dfuDNLOAD_IDLE)
        return stall();
    if (length == 0) {
        trace("leave request");
        state_ = dfuMANIFEST_SYNC;
        return 0;
    }
    if (block == 0)
        return downloadCommand(data, length);
    if (block == 1 || length > transferSize)
        return stall();

    const std::uint64_t address = pointer_ + std::uint64_t(block - 2) * transferSize;
    const std::uint64_t budget = numericFault(model_.dir, fault::vanishAfter, UINT64_MAX);
    if (downloadedBytes_ + length > budget)
        return vanishDuring(address, data, length, budget);
    downloadedBytes_ += length;

    trace("DNLOAD block %u, %u bytes at 0x%08X", unsigned(block), unsigned(length), unsigned(address));
    pending_ = Operation::Write;
    pendingAddress_ = address;
    pendingData_.assign(data, data + length);
    state_ = dfuDNLOAD_SYNC;
    return length;
}

int DfuSession::downloadCommand(const std::uint8_t *data, std::uint16_t length)
{
    const std::uint32_t address = length >= 5
        ? std::uint32_t(data[1]) | std::uint32_t(data[2]) << 8 | std::uint32_t(data[3]) << 16
            | std::uint32_t(data[4]) << 24
        : 0;
    if (data[0] == cmdSetAddressPointer && length == 5)
        pending_ = Operation::SetPointer;
    else if (data[0] == cmdErase && length == 5)
        pending_ = Operation::Erase;
    else if (data[0] == cmdErase && length == 1)
        pending_ = Operation::MassErase;
    else if (data[0] == cmdReadUnprotect && length == 1)
        pending_ = Operation::ReadUnprotect;
    else
        return stall();
    trace("command 0x%02X, address 0x%08X", unsigned(data[0]), unsigned(address));
    pendingAddress_ = address;
    state_ = dfuDNLOAD_SYNC;
    return length;
}

int DfuSession::getStatus(std::uint8_t *data, std::uint16_t length)
{
    if (length < 6)
        return LIBUSB_ERROR_PIPE;
    std::uint32_t pollMs = 0;
    DfuState reported = state_;
    bool leave = false;
    switch (state_) {
    case dfuDNLOAD_SYNC:
        pollMs = execute();
        state_ = reported = dfuDNBUSY;
        leave = leaveAfterStatus_;
        break;
    case dfuDNBUSY:
        status_ = pendingResult_;
        state_ = reported = status_ == statusOK ? dfuDNLOAD_IDLE : dfuERROR;
        break;
    case dfuMANIFEST_SYNC:
        // The bootloader jumps to the application from here.
        state_ = reported = dfuMANIFEST;
        leave = true;
        if (faultArgument(model_.dir, fault::leaveStatusError)) {
            leaveBus(BusState::Rebooting);
            return LIBUSB_ERROR_IO;
        }
        break;
    default:
        break;
    }
    data[0] = status_;
    data[1] = std::uint8_t(pollMs);
    data[2] = std::uint8_t(pollMs >> 8);
    data[3] = std::uint8_t(pollMs >> 16);
    data[4] = reported;
    data[5] = 0;
    if (leave) {
        leaveAfterStatus_ = false;
        leaveBus(BusState::Rebooting);
    }
    return 6;
}

std::uint32_t DfuSession::execute()
{
    const bool realistic = realisticTiming(model_.dir);
    std::uint32_t pollMs = 0;
    DfuStatus result = statusOK;
    const Region memory = region();
    switch (pending_) {
    case Operation::SetPointer:
        if (pendingAddress_ < memory.base || pendingAddress_ >= memory.base + std::uint64_t(memory.size))
            result = errTARGET;
        else
            pointer_ = std::uint32_t(pendingAddress_);
        break;
    case Operation::Erase:
        result = erase(std::uint32_t(pendingAddress_), pollMs);
        break;
    case Operation::MassErase:
        if (alt_ != 0) {
            result = errTARGET;
        } else {
            massErase();
            pollMs = 10000;
        }
        break;
    case Operation::ReadUnprotect:
        // Removing the read protection wipes the flash and restarts the chip.
        massErase();
        leaveAfterStatus_ = true;
        break;
    case Operation::Write:
        result = program(pendingAddress_, pendingData_.data(), pendingData_.size());
        pollMs = programMs(pendingData_.size());
        break;
    case Operation::None:
        result = errUNKNOWN;
        break;
    }
    trace("executed, status %u", unsigned(result));
    pending_ = Operation::None;
    pendingData_.clear();
    pendingResult_ = result;
    return realistic ? pollMs : 0;
}

bool DfuSession::read(std::uint64_t address, std::uint8_t *out, std::size_t length) const
{
    const Region memory = region();
    if (address < memory.base || address + length > memory.base + std::uint64_t(memory.size))
        return false;
    const std::size_t offset = std::size_t(address - memory.base);
    const std::uint8_t *source = nullptr;
    switch (alt_) {
    case 0:
        source = UnitMemory::of(model_.dir).flash().data();
        break;
    case 1:
        source = optionBytes;
        break;
    case 2:
        source = UnitMemory::of(model_.dir).otp().data();
        break;
    default:
        source = featureBytes;
        break;
    }
    std::copy_n(source + offset, length, out);
    return true;
}

// Flash and OTP program like NOR memory: a write can only clear bits, so only
// erased (0xFF) bytes take a new value exactly.
DfuStatus DfuSession::program(std::uint64_t address, const std::uint8_t *bytes, std::size_t length)
{
    const Region memory = region();
    if (!memory.writable)
        return errWRITE;
    if (address < memory.base || address + length > memory.base + std::uint64_t(memory.size))
        return errADDRESS;
    UnitMemory &unit = UnitMemory::of(model_.dir);
    Bytes &target = alt_ == 0 ? unit.flash() : unit.otp();
    const std::size_t offset = std::size_t(address - memory.base);
    std::uint64_t stuck = numericFault(model_.dir, fault::stuckByte, UINT64_MAX);
    if (stuck >= flashBase && stuck != UINT64_MAX)
        stuck -= flashBase;
    for (std::size_t i = 0; i < length; ++i) {
        if (alt_ == 0 && offset + i == stuck)
            continue;
        target[offset + i] &= bytes[i];
    }
    unit.changed();
    return statusOK;
}

DfuStatus DfuSession::erase(std::uint32_t address, std::uint32_t &pollMs)
{
    Sector sector{};
    if (alt_ != 0 || address < flashBase || !sectorAt(address - flashBase, sector))
        return errTARGET;
    UnitMemory &unit = UnitMemory::of(model_.dir);
    std::fill_n(unit.flash().begin() + sector.offset, sector.size, 0xFF);
    unit.changed();
    pollMs = eraseMs(sector.size);
    return statusOK;
}

void DfuSession::massErase()
{
    UnitMemory &unit = UnitMemory::of(model_.dir);
    std::fill(unit.flash().begin(), unit.flash().end(), 0xFF);
    unit.changed();
}

int DfuSession::upload(std::uint16_t block, std::uint8_t *data, std::uint16_t length)
{
    if (state_ != dfuIDLE && state_ != dfuUPLOAD_IDLE)
        return stall();
    if (block == 0) {
        const std::uint8_t commands[] = {cmdGetCommands, cmdSetAddressPointer, cmdErase,
                                         cmdReadUnprotect};
        const std::size_t n = std::min<std::size_t>(length, sizeof commands);
        std::copy_n(commands, n, data);
        state_ = dfuUPLOAD_IDLE;
        return int(n);
    }
    if (block == 1 || length > transferSize)
        return stall();

    const std::uint64_t address = pointer_ + std::uint64_t(block - 2) * transferSize;
    const Region memory = region();
    const std::uint64_t end = memory.base + std::uint64_t(memory.size);
    if (address < memory.base || address >= end) {
        stall();
        status_ = errADDRESS;
        return LIBUSB_ERROR_PIPE;
    }
    if (alt_ == 2 && faultArgument(model_.dir, fault::stallOtpUpload)) {
        int result = 0;
        if (waitOutStall(result))
            return result;
    }
    // A short block ends the upload, as DFU has it.
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, end - address));
    read(address, data, n);
    trace("UPLOAD block %u, %u bytes at 0x%08X", unsigned(block), unsigned(n), unsigned(address));
    state_ = n < length ? dfuIDLE : dfuUPLOAD_IDLE;
    return int(n);
}

// Holds the transfer until the unit is unplugged (the transfer fails), the
// fault is cleared (it goes on) or the fault's time runs out.
bool DfuSession::waitOutStall(int &result)
{
    const std::int64_t seconds =
        std::int64_t(numericFault(model_.dir, fault::stallOtpUpload, defaultStallSeconds));
    const std::int64_t deadline = nowMs() + std::min<std::int64_t>(seconds, 86400) * 1000;
    const std::string marker = unitFile(model_.dir, "stalled");
    writeFileAtomic(marker, std::to_string(getpid()) + "\n");
    trace("OTP upload stalls");
    bool ended = false;
    for (;;) {
        if (!present()) {
            result = LIBUSB_ERROR_NO_DEVICE;
            ended = true;
            break;
        }
        if (!faultArgument(model_.dir, fault::stallOtpUpload))
            break;
        if (nowMs() >= deadline) {
            result = LIBUSB_ERROR_TIMEOUT;
            ended = true;
            break;
        }
        usleep(stallPollMs * 1000);
    }
    unlink(marker.c_str());
    return ended;
}

// The unit drops off the bus in the middle of a block: what arrived up to the
// fault's byte count is in the memory, nothing after it.
int DfuSession::vanishDuring(std::uint64_t address, const std::uint8_t *data, std::uint16_t length,
                             std::uint64_t budget)
{
    const std::size_t kept = std::size_t(std::min<std::uint64_t>(
        length, budget > downloadedBytes_ ? budget - downloadedBytes_ : 0));
    if (kept > 0)
        program(address, data, kept);
    downloadedBytes_ += kept;
    trace("vanishes after %u bytes", unsigned(downloadedBytes_));
    leaveBus(BusState::Detached);
    return LIBUSB_ERROR_NO_DEVICE;
}

void DfuSession::leaveBus(BusState::Kind kind)
{
    UnitMemory::flushAll();
    const std::int64_t now = nowMs();
    BusState bus = readBus(model_.dir).effective(now);
    bus.kind = kind;
    bus.returnsAtMs = kind == BusState::Rebooting ? now + returnDelayMs(model_.dir) : 0;
    writeBus(model_.dir, bus);
    trace("leaves the bus");
}

} // namespace vunit

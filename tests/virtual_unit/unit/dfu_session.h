#pragma once
// One open handle's conversation with the unit: standard descriptor requests,
// the DFU 1.1 class requests with their state machine, and the DfuSe commands
// and block addressing of the STM32 bootloader (Get, Set Address Pointer,
// Erase, Read Unprotect; address = pointer + (wBlockNum - 2) * 2048).
//
// The bootloader answers the first GETSTATUS after a DNLOAD with dfuDNBUSY and
// the operation's duration in bwPollTimeout, and does the work then; the next
// GETSTATUS reports dfuDNLOAD-IDLE, or dfuERROR with the failure. A
// zero-length DNLOAD ends in dfuMANIFEST, after which the unit leaves the bus
// and returns in DFU mode after the unit's return delay.

#include "descriptors.h"

#include <cstdint>

namespace vunit {

enum DfuState : std::uint8_t {
    appIDLE = 0,
    appDETACH = 1,
    dfuIDLE = 2,
    dfuDNLOAD_SYNC = 3,
    dfuDNBUSY = 4,
    dfuDNLOAD_IDLE = 5,
    dfuMANIFEST_SYNC = 6,
    dfuMANIFEST = 7,
    dfuMANIFEST_WAIT_RESET = 8,
    dfuUPLOAD_IDLE = 9,
    dfuERROR = 10,
};

enum DfuStatus : std::uint8_t {
    statusOK = 0x00,
    errTARGET = 0x01,
    errWRITE = 0x03,
    errERASE = 0x04,
    errPROG = 0x06,
    errADDRESS = 0x08,
    errUNKNOWN = 0x0E,
    errSTALLEDPKT = 0x0F,
};

const char *dfuStateName(int state);

class DfuSession
{
public:
    explicit DfuSession(const DeviceModel &model);
    ~DfuSession();
    DfuSession(const DfuSession &) = delete;
    DfuSession &operator=(const DfuSession &) = delete;

    // Returns bytes transferred or a negative libusb error code.
    int controlTransfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                        std::uint16_t index, std::uint8_t *data, std::uint16_t length);
    int setAltSetting(int alt);
    int reset();
    bool present() const;
    void save(); // DFU state and memory out to the unit directory

private:
    enum class Operation { None, SetPointer, Erase, MassErase, ReadUnprotect, Write };
    struct Region {
        std::uint32_t base = 0;
        std::uint32_t size = 0;
        bool writable = false;
    };

    int standardRequest(std::uint8_t request, std::uint16_t value, std::uint8_t *data,
                        std::uint16_t length);
    int classRequest(bool in, std::uint8_t request, std::uint16_t value, std::uint8_t *data,
                     std::uint16_t length);
    int download(std::uint16_t block, const std::uint8_t *data, std::uint16_t length);
    int downloadCommand(const std::uint8_t *data, std::uint16_t length);
    int upload(std::uint16_t block, std::uint8_t *data, std::uint16_t length);
    int getStatus(std::uint8_t *data, std::uint16_t length);
    int stall(); // protocol error: STALL and dfuERROR
    bool waitOutStall(int &result);

    Region region() const; // memory of the selected alternate setting
    std::uint32_t execute(); // runs the pending operation, returns its poll timeout
    DfuStatus program(std::uint64_t address, const std::uint8_t *bytes, std::size_t length);
    bool read(std::uint64_t address, std::uint8_t *out, std::size_t length) const;
    DfuStatus erase(std::uint32_t address, std::uint32_t &pollMs);
    void massErase();
    int vanishDuring(std::uint64_t address, const std::uint8_t *data, std::uint16_t length,
                     std::uint64_t budget);
    void leaveBus(BusState::Kind kind);

    DeviceModel model_;
    int alt_ = 0;
    DfuState state_ = dfuIDLE;
    DfuStatus status_ = statusOK;
    std::uint32_t pointer_ = flashBase;
    std::string savedState_;

    Operation pending_ = Operation::None;
    std::uint64_t pendingAddress_ = 0;
    Bytes pendingData_;
    DfuStatus pendingResult_ = statusOK;
    bool leaveAfterStatus_ = false;

    std::uint64_t downloadedBytes_ = 0;
};

} // namespace vunit

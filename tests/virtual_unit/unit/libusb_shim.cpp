// libusb-1.0 as dfu-util sees it, with virtual Arc-31 units in DFU mode on the
// bus instead of real hardware. Built as libusb-1.0.so.0 and found before the
// system's library through LD_LIBRARY_PATH; the bus is the directory named by
// VIRTUAL_DFU_UNITS (one subdirectory per unit, see unit_store.h). Without that
// variable the bus is empty.

#include "descriptors.h"
#include "dfu_session.h"
#include "libusb_abi.h"
#include "unit_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <type_traits>
#include <vector>

#define VUNIT_API extern "C" __attribute__((visibility("default")))

struct libusb_context {
    int unused = 0;
};

struct libusb_device {
    int references = 1;
    vunit::DeviceModel model;
};

struct libusb_device_handle {
    libusb_device *device = nullptr;
    std::unique_ptr<vunit::DfuSession> session;
    int lockFd = -1; // held while the interface is claimed
};

namespace {

// One allocation per libusb_get_config_descriptor call, freed as a whole.
struct ConfigBlock {
    libusb_config_descriptor config;
    libusb_interface interface;
    libusb_interface_descriptor alts[vunit::interfaceCount];
    unsigned char functional[9];
};
static_assert(std::is_standard_layout_v<ConfigBlock> && offsetof(ConfigBlock, config) == 0,
              "libusb_free_config_descriptor casts back to the block");

std::recursive_mutex &apiMutex()
{
    static auto *mutex = new std::recursive_mutex;
    return *mutex;
}

// Never destroyed: the unload hook below still needs it.
std::set<libusb_device_handle *> &openHandles()
{
    static auto *handles = new std::set<libusb_device_handle *>;
    return *handles;
}

void saveAll()
{
    for (libusb_device_handle *handle : openHandles())
        handle->session->save();
    vunit::UnitMemory::flushAll();
}

// dfu-util ends most failures with exit() and closes nothing; the unit's
// memory and state still reach its directory.
__attribute__((destructor)) void saveAtExit()
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    saveAll();
}

void unref(libusb_device *device)
{
    if (device && --device->references == 0)
        delete device;
}

bool present(const libusb_device *device)
{
    const vunit::BusState bus = vunit::readBus(device->model.dir).effective(vunit::nowMs());
    return bus.kind == vunit::BusState::Attached && bus.generation == device->model.generation;
}

void releaseLock(libusb_device_handle *handle)
{
    if (handle->lockFd >= 0) {
        flock(handle->lockFd, LOCK_UN);
        close(handle->lockFd);
        handle->lockFd = -1;
    }
}

std::uint16_t le16(const vunit::Bytes &bytes, std::size_t at)
{
    return std::uint16_t(bytes[at] | bytes[at + 1] << 8);
}

template <typename F>
auto guarded(F &&body) -> decltype(body())
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return LIBUSB_ERROR_NO_MEM;
    } catch (...) {
        return LIBUSB_ERROR_OTHER;
    }
}

} // namespace

VUNIT_API int libusb_init(libusb_context **context)
{
    return guarded([&] {
        if (context)
            *context = new libusb_context;
        return int(LIBUSB_SUCCESS);
    });
}

VUNIT_API void libusb_exit(libusb_context *context)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    saveAll();
    delete context;
}

VUNIT_API int libusb_set_option(libusb_context *, int, ...)
{
    return LIBUSB_SUCCESS;
}

VUNIT_API void libusb_set_debug(libusb_context *, int)
{
}

VUNIT_API const libusb_version *libusb_get_version(void)
{
    static const libusb_version version = {1, 0, 26, 11724, "", "virtual Arc-31 unit"};
    return &version;
}

VUNIT_API const char *libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
        return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
        return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM:
        return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER:
        return "LIBUSB_ERROR_OTHER";
    default:
        return "**UNKNOWN**";
    }
}

VUNIT_API ssize_t libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    if (!list)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&]() -> ssize_t {
        std::vector<libusb_device *> devices;
        const char *busDir = std::getenv("VIRTUAL_DFU_UNITS");
        if (busDir && *busDir) {
            const auto dirs = vunit::unitDirectories(busDir);
            const std::int64_t now = vunit::nowMs();
            for (std::size_t i = 0; i < dirs.size(); ++i) {
                const vunit::BusState bus = vunit::readBus(dirs[i]).effective(now);
                if (bus.kind != vunit::BusState::Attached)
                    continue;
                auto *device = new libusb_device;
                device->model = vunit::DeviceModel::load(dirs[i], int(i) + 1, bus.generation);
                devices.push_back(device);
            }
        }
        auto **out = static_cast<libusb_device **>(std::calloc(devices.size() + 1, sizeof(libusb_device *)));
        if (!out) {
            for (libusb_device *device : devices)
                unref(device);
            return LIBUSB_ERROR_NO_MEM;
        }
        std::copy(devices.begin(), devices.end(), out);
        *list = out;
        return ssize_t(devices.size());
    });
}

VUNIT_API void libusb_free_device_list(libusb_device **list, int unrefDevices)
{
    if (!list)
        return;
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    if (unrefDevices)
        for (libusb_device **device = list; *device; ++device)
            unref(*device);
    std::free(list);
}

VUNIT_API libusb_device *libusb_ref_device(libusb_device *device)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    if (device)
        ++device->references;
    return device;
}

VUNIT_API void libusb_unref_device(libusb_device *device)
{
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    unref(device);
}

VUNIT_API int libusb_get_device_descriptor(libusb_device *device, libusb_device_descriptor *desc)
{
    if (!device || !desc)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        const vunit::Bytes d = vunit::deviceDescriptor(device->model);
        desc->bLength = d[0];
        desc->bDescriptorType = d[1];
        desc->bcdUSB = le16(d, 2);
        desc->bDeviceClass = d[4];
        desc->bDeviceSubClass = d[5];
        desc->bDeviceProtocol = d[6];
        desc->bMaxPacketSize0 = d[7];
        desc->idVendor = le16(d, 8);
        desc->idProduct = le16(d, 10);
        desc->bcdDevice = le16(d, 12);
        desc->iManufacturer = d[14];
        desc->iProduct = d[15];
        desc->iSerialNumber = d[16];
        desc->bNumConfigurations = d[17];
        return int(LIBUSB_SUCCESS);
    });
}

VUNIT_API int libusb_get_config_descriptor(libusb_device *device, std::uint8_t index,
                                           libusb_config_descriptor **config)
{
    if (!device || !config)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    return guarded([&] {
        const vunit::DeviceModel &model = device->model;
        const vunit::Bytes raw = vunit::configDescriptor(model);
        auto *block = new ConfigBlock{};
        const vunit::Bytes functional = vunit::functionalDescriptor();
        std::copy(functional.begin(), functional.end(), block->functional);
        for (int alt = 0; alt < model.altCount; ++alt) {
            const vunit::Bytes d = vunit::interfaceDescriptor(alt);
            libusb_interface_descriptor &intf = block->alts[alt];
            intf.bLength = d[0];
            intf.bDescriptorType = d[1];
            intf.bInterfaceNumber = d[2];
            intf.bAlternateSetting = d[3];
            intf.bNumEndpoints = d[4];
            intf.bInterfaceClass = d[5];
            intf.bInterfaceSubClass = d[6];
            intf.bInterfaceProtocol = d[7];
            intf.iInterface = d[8];
            // libusb hands out what follows an interface descriptor as its
            // extra bytes; the functional descriptor comes after the last one.
            if (alt == model.altCount - 1) {
                intf.extra = block->functional;
                intf.extra_length = int(sizeof block->functional);
            }
        }
        block->interface.altsetting = block->alts;
        block->interface.num_altsetting = model.altCount;
        libusb_config_descriptor &c = block->config;
        c.bLength = raw[0];
        c.bDescriptorType = raw[1];
        c.wTotalLength = le16(raw, 2);
        c.bNumInterfaces = raw[4];
        c.bConfigurationValue = raw[5];
        c.iConfiguration = raw[6];
        c.bmAttributes = raw[7];
        c.MaxPower = raw[8];
        c.interface = &block->interface;
        *config = &block->config;
        return int(LIBUSB_SUCCESS);
    });
}

VUNIT_API int libusb_get_active_config_descriptor(libusb_device *device, libusb_config_descriptor **config)
{
    return libusb_get_config_descriptor(device, 0, config);
}

VUNIT_API void libusb_free_config_descriptor(libusb_config_descriptor *config)
{
    delete reinterpret_cast<ConfigBlock *>(config);
}

VUNIT_API std::uint8_t libusb_get_bus_number(libusb_device *)
{
    return 1;
}

VUNIT_API std::uint8_t libusb_get_device_address(libusb_device *device)
{
    return device ? device->model.address() : 0;
}

VUNIT_API int libusb_get_port_numbers(libusb_device *device, std::uint8_t *ports, int length)
{
    if (!device || !ports || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    ports[0] = std::uint8_t(device->model.port);
    return 1;
}

VUNIT_API int libusb_open(libusb_device *device, libusb_device_handle **handle)
{
    if (!device || !handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        if (!present(device))
            return int(LIBUSB_ERROR_NO_DEVICE);
        if (vunit::faultArgument(device->model.dir, vunit::fault::accessDenied))
            return int(LIBUSB_ERROR_ACCESS);
        auto opened = std::make_unique<libusb_device_handle>();
        opened->session = std::make_unique<vunit::DfuSession>(device->model);
        opened->device = device;
        ++device->references;
        *handle = opened.release();
        openHandles().insert(*handle);
        return int(LIBUSB_SUCCESS);
    });
}

VUNIT_API libusb_device *libusb_get_device(libusb_device_handle *handle)
{
    return handle ? handle->device : nullptr;
}

VUNIT_API void libusb_close(libusb_device_handle *handle)
{
    if (!handle)
        return;
    std::lock_guard<std::recursive_mutex> lock(apiMutex());
    openHandles().erase(handle);
    releaseLock(handle);
    libusb_device *device = handle->device;
    delete handle; // the session saves itself
    unref(device);
}

VUNIT_API int libusb_claim_interface(libusb_device_handle *handle, int interfaceNumber)
{
    if (!handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        if (!handle->session->present())
            return int(LIBUSB_ERROR_NO_DEVICE);
        if (interfaceNumber != 0)
            return int(LIBUSB_ERROR_NOT_FOUND);
        if (handle->lockFd >= 0)
            return int(LIBUSB_SUCCESS);
        // Like the kernel, one process at a time gets the interface.
        const std::string path = vunit::unitFile(handle->device->model.dir, "lock");
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return int(LIBUSB_ERROR_IO);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return int(LIBUSB_ERROR_BUSY);
        }
        handle->lockFd = fd;
        return int(LIBUSB_SUCCESS);
    });
}

VUNIT_API int libusb_release_interface(libusb_device_handle *handle, int interfaceNumber)
{
    if (!handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        if (interfaceNumber != 0 || handle->lockFd < 0)
            return int(LIBUSB_ERROR_NOT_FOUND);
        releaseLock(handle);
        return int(handle->session->present() ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE);
    });
}

VUNIT_API int libusb_set_interface_alt_setting(libusb_device_handle *handle, int interfaceNumber,
                                               int alternateSetting)
{
    if (!handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        if (interfaceNumber != 0)
            return int(LIBUSB_ERROR_NOT_FOUND);
        return handle->session->setAltSetting(alternateSetting);
    });
}

VUNIT_API int libusb_reset_device(libusb_device_handle *handle)
{
    if (!handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] { return handle->session->reset(); });
}

VUNIT_API int libusb_control_transfer(libusb_device_handle *handle, std::uint8_t requestType,
                                      std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                      unsigned char *data, std::uint16_t length, unsigned int)
{
    if (!handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    return guarded([&] {
        return handle->session->controlTransfer(requestType, request, value, index, data, length);
    });
}

VUNIT_API int libusb_get_string_descriptor_ascii(libusb_device_handle *handle, std::uint8_t index,
                                                 unsigned char *data, int length)
{
    if (!handle || !data || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    unsigned char buffer[255];
    const int r = libusb_control_transfer(handle, 0x80, 0x06, std::uint16_t(0x0300 | index), 0x0409,
                                          buffer, sizeof buffer, 1000);
    if (r < 0)
        return r;
    if (r < 2 || buffer[1] != 0x03)
        return LIBUSB_ERROR_IO;
    int out = 0;
    for (int i = 2; i + 1 < r && out < length - 1; i += 2)
        data[out++] = buffer[i + 1] ? '?' : buffer[i];
    data[out] = '\0';
    return out;
}

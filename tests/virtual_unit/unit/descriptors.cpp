#include "descriptors.h"

namespace vunit {

const char *const interfaceNames[interfaceCount] = {
    "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg",
    "@Option Bytes  /0x1FFFC000/01*016 e",
    "@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
    "@Device Feature/0xFFFF0000/01*004 e",
};

namespace {

void put16(Bytes &out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

} // namespace

DeviceModel DeviceModel::load(const std::string &dir, int port, std::uint64_t generation)
{
    DeviceModel model;
    model.dir = dir;
    model.port = port;
    model.generation = generation;
    model.serial = readText(unitFile(dir, "serial"));
    if (faultArgument(dir, fault::noSerial))
        model.serial.clear();
    if (faultArgument(dir, fault::threeInterfaces))
        model.altCount = 3;
    if (auto arg = faultArgument(dir, fault::bcdDevice)) {
        // Written as dfu-util prints it ("2201"), with or without 0x.
        if (arg->rfind("0x", 0) != 0 && arg->rfind("0X", 0) != 0)
            arg = "0x" + *arg;
        std::uint64_t bcd = 0;
        if (parseNumber(*arg, bcd) && bcd <= 0xFFFF)
            model.bcdDevice = std::uint16_t(bcd);
    }
    return model;
}

Bytes deviceDescriptor(const DeviceModel &model)
{
    Bytes d{18, 0x01};
    put16(d, 0x0200);           // bcdUSB
    d.insert(d.end(), {0, 0, 0}); // class from the interfaces
    d.push_back(64);            // bMaxPacketSize0
    put16(d, vendorId);
    put16(d, productId);
    put16(d, model.bcdDevice);
    d.push_back(manufacturerString);
    d.push_back(productString);
    d.push_back(model.serial.empty() ? 0 : serialString);
    d.push_back(1); // bNumConfigurations
    return d;
}

Bytes interfaceDescriptor(int alt)
{
    // Interface 0, no endpoints, class application-specific, subclass DFU,
    // protocol 2: DFU mode.
    return {9, 0x04, 0, std::uint8_t(alt), 0, 0xFE, 0x01, 0x02,
            std::uint8_t(firstInterfaceString + alt)};
}

Bytes functionalDescriptor()
{
    // bmAttributes 0x0B: can download, can upload, will detach.
    Bytes d{9, dfuFunctionalType, 0x0B};
    put16(d, 255); // wDetachTimeOut
    put16(d, transferSize);
    put16(d, dfuseVersion);
    return d;
}

Bytes configDescriptor(const DeviceModel &model)
{
    Bytes body;
    for (int alt = 0; alt < model.altCount; ++alt) {
        const Bytes intf = interfaceDescriptor(alt);
        body.insert(body.end(), intf.begin(), intf.end());
    }
    // As on the bootloader, the functional descriptor follows the last
    // alternate setting.
    const Bytes functional = functionalDescriptor();
    body.insert(body.end(), functional.begin(), functional.end());

    Bytes d{9, 0x02};
    put16(d, std::uint16_t(9 + body.size()));
    d.insert(d.end(), {1, 1, 0, 0xC0, 50}); // one interface, configuration 1, self powered, 100 mA
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

std::optional<Bytes> stringDescriptor(const DeviceModel &model, std::uint8_t index)
{
    if (index == 0)
        return Bytes{4, 0x03, 0x09, 0x04}; // English (United States)
    std::string text;
    if (index == manufacturerString)
        text = "STMicroelectronics";
    else if (index == productString)
        text = "STM32  BOOTLOADER";
    else if (index == serialString && !model.serial.empty())
        text = model.serial;
    else if (index >= firstInterfaceString && index < firstInterfaceString + model.altCount)
        text = interfaceNames[index - firstInterfaceString];
    else
        return std::nullopt;
    if (text.size() > 126)
        text.resize(126);
    Bytes d{std::uint8_t(2 + 2 * text.size()), 0x03};
    for (const char c : text)
        put16(d, std::uint8_t(c));
    return d;
}

} // namespace vunit

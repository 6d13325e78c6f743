// Feeds arbitrary flash contents to parseFwInfo and readFwInfoField and checks
// what every result must satisfy.
#include "device/fw_info.h"
#include "fuzz_support.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(dropMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Raw data without a copy: reading past the input is caught by the address sanitizer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const FwInfo info = parseFwInfo(bytes);

    require(normalizeProductType(info.product.type) == info.product.type);
    require(info.product.rawType >= 0 && info.product.rawType <= 255);
    if (info.valid) {
        // A field decodes at most 31 bytes, each to at most one UTF-16 unit.
        require(info.name.size() <= 31 && info.revision.size() <= 31);
        // A block lies within the first 1952 bytes: at most 29 pairs fit.
        require(info.details.size() <= 29);
    } else {
        require(info.name.isEmpty() && info.revision.isEmpty() && info.details.isEmpty());
    }
    require(info.toString().startsWith(QStringLiteral("FW info:\n")));

    // The first two bytes choose a field offset, also outside the data.
    if (size >= 2) {
        const int offset = int(std::int16_t(data[0] | data[1] << 8));
        require(readFwInfoField(bytes, offset).size() <= 31);
    }
    return 0;
}

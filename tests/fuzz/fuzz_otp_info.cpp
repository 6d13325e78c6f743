// Feeds arbitrary OTP dumps to parseOtpInfo and checks what every result must satisfy.
#include "device/otp_info.h"
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
    const QByteArray dump = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const OtpInfo otp = parseOtpInfo(dump);

    require(!(otp.valid && otp.blank));
    require(!otp.valid || isKnownProductType(otp.product.type));
    require(normalizeProductType(otp.product.type) == otp.product.type);
    require(otp.product.rawType >= 0 && otp.product.rawType <= 255);
    require(!otp.toString().isEmpty());
    return 0;
}

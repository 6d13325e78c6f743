// Refuses a firmware image that the application could not identify: one without
// a valid firmware-information block, or whose block names a product type that
// the product table does not know. Usage: check_firmware IMAGE
#include "device/fw_info.h"
#include "device/product_info.h"

#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot open: %s\n", path, qPrintable(file.errorString()));
        return 1;
    }
    const FwInfo info = parseFwInfo(file.readAll());
    if (!info.valid) {
        std::fprintf(stderr, "%s: no valid firmware-information block\n", path);
        return 1;
    }
    if (!isKnownProductType(info.product.type)) {
        std::fprintf(stderr, "%s: firmware-information block names product type %d, which the product table does not know\n",
                     path, int(info.product.rawType));
        return 1;
    }
    return 0;
}

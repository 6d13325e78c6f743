#include "dfu/dfu_command.h"

namespace {

std::array<DfuCommandEntry, 7> makeDfuCommandTable()
{
    const QString dfuUtil = QStringLiteral("dfu-util");
    std::array<DfuCommandEntry, 7> table;
    table[int(DfuCommand::Version)] = {dfuUtil, {QStringLiteral("-V")}};
    table[int(DfuCommand::List)] = {dfuUtil, {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")}};
    table[int(DfuCommand::UploadOtp)] = {dfuUtil,
                                         {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                          QStringLiteral("2"), QStringLiteral("-s"),
                                          QStringLiteral("0x1FFF7800:512"), QStringLiteral("-U")}};
    table[int(DfuCommand::UploadFwInfo)] = {dfuUtil,
                                            {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                             QStringLiteral("0"), QStringLiteral("-s"),
                                             QStringLiteral("0x08000000:2048"), QStringLiteral("-U")}};
    table[int(DfuCommand::UploadFw)] = {dfuUtil,
                                        {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                         QStringLiteral("0")}};
    table[int(DfuCommand::DownloadFw)] = {dfuUtil,
                                          {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                           QStringLiteral("0"), QStringLiteral("-s"),
                                           QStringLiteral("0x08000000:leave"), QStringLiteral("-D")}};
    table[int(DfuCommand::SetupPreparedConfig)] = {dfuUtil, {}};
    return table;
}

// Filled during static initialisation so that the table is complete before
// main() and before any thread can read it.
[[maybe_unused]] const bool dfuCommandTableFilled = !dfuCommandTable().empty();

} // namespace

std::array<DfuCommandEntry, 7> &dfuCommandTable()
{
    static std::array<DfuCommandEntry, 7> table = makeDfuCommandTable();
    return table;
}

DfuCommandEntry &dfuCommandEntry(DfuCommand command)
{
    return dfuCommandTable()[std::size_t(command)];
}

QString dfuUtilDirectory;

const QString expectedDfuUtilVersionText = QStringLiteral(
    "dfu-util 0.9\n"
    "\n"
    "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
    "Copyright 2010-2016 Tormod Volden and Stefan Schmidt\n"
    "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
    "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n"
    "\n");

const QString foundDfuPatternText = QStringLiteral("^Found DFU: \\[0483:df11\\] ver=2200");
const QString serialPatternText = QStringLiteral("serial=\\\"([0-9a-fA-F]+)\\\"");

#include "InstrumentRows.h"

#include "qzMeterCOM.h"

QList<InstrumentRow> instrumentRows(const TqzMeterInfo &info)
{
    // The MCU version prints with a comma, as the instrument's own display has it.
    const QString mcu = QStringLiteral("%1,%2").arg(info.McuVersionMajor).arg(info.McuVersionMinor);
    return {
        {QStringLiteral("instrumentType"), QStringLiteral("      Instrument Type: ") + info.ModelName, info.ModelName},
        {QStringLiteral("serialNumber"), QStringLiteral("        Serial Number: ") + QString::number(info.SerialNumber),
         info.SerialNumber},
        {QStringLiteral("packageId"), QStringLiteral("  Package ID: ") + QString::number(info.PackageId), info.PackageId},
        {QStringLiteral("mcuVersion"), QStringLiteral(" MCU Version: ") + mcu, mcu},
        {QStringLiteral("fpgaVersion"), QStringLiteral("FPGA Version: ") + QString::number(info.FpgaVersion),
         info.FpgaVersion},
    };
}

#include "VirtualMeterOptions.h"

#include "MeterScreen.h"

#include <utility>

namespace {

const std::pair<MeterFault, const char *> FaultNames[] = {
    {MeterFault::Silent, "silent"},
    {MeterFault::NoAck, "no-ack"},
    {MeterFault::WrongChecksum, "wrong-checksum"},
    {MeterFault::ShortStatus, "short-status"},
    {MeterFault::SplitStatus, "split-status"},
    {MeterFault::SwappedTrailer, "swapped-trailer"},
    {MeterFault::SwappedImageTrailer, "swapped-image-trailer"},
    {MeterFault::Garbage, "garbage"},
    {MeterFault::StallInRead, "stall-in-read"},
    {MeterFault::PauseInImage, "pause-in-image"},
    {MeterFault::ShortImage, "short-image"},
    {MeterFault::AbsurdGeometry, "absurd-geometry"},
    {MeterFault::HaltRefused, "halt-refused"},
    {MeterFault::RestartRefused, "restart-refused"},
    {MeterFault::LateHaltAck, "late-ack"},
    {MeterFault::LateRestartAck, "late-restart-ack"},
    {MeterFault::Garbled, "garbled"},
    {MeterFault::HangUpInIdentification, "hang-up-in-identification"},
    {MeterFault::HangUpInDirectory, "hang-up-in-directory"},
    {MeterFault::HangUpInDspStatus, "hang-up-in-dsp-status"},
    {MeterFault::HangUpInHalt, "hang-up-in-halt"},
    {MeterFault::HangUpInImage, "hang-up-in-image"},
    {MeterFault::HangUpInRestart, "hang-up-in-restart"},
    {MeterFault::UnplugInIdentification, "unplug-in-identification"},
    {MeterFault::UnplugInDirectory, "unplug-in-directory"},
    {MeterFault::UnplugInDspStatus, "unplug-in-dsp-status"},
    {MeterFault::UnplugInHalt, "unplug-in-halt"},
    {MeterFault::UnplugInImage, "unplug-in-image"},
    {MeterFault::UnplugInRestart, "unplug-in-restart"},
};

struct PhaseFaults
{
    MeterPhase phase;
    const char *name;
    MeterFault hangUp;
    MeterFault unplug;
};
const PhaseFaults Phases[] = {
    {MeterPhase::Identification, "identification", MeterFault::HangUpInIdentification, MeterFault::UnplugInIdentification},
    {MeterPhase::Directory, "directory", MeterFault::HangUpInDirectory, MeterFault::UnplugInDirectory},
    {MeterPhase::DspStatus, "dsp-status", MeterFault::HangUpInDspStatus, MeterFault::UnplugInDspStatus},
    {MeterPhase::Halt, "halt", MeterFault::HangUpInHalt, MeterFault::UnplugInHalt},
    {MeterPhase::Image, "image", MeterFault::HangUpInImage, MeterFault::UnplugInImage},
    {MeterPhase::Restart, "restart", MeterFault::HangUpInRestart, MeterFault::UnplugInRestart},
};

const PhaseFaults &phaseFaults(MeterPhase phase)
{
    for (const PhaseFaults &entry : Phases)
        if (entry.phase == phase)
            return entry;
    return Phases[0];
}

constexpr int MinStatusLength = 32;  // the record's fields reach byte 30, the checksum follows
constexpr int MaxStoredWidth = 4096;
constexpr int MaxLatencyMs = 60000;
constexpr int MaxChunk = 65536;

}  // namespace

QString meterFaultName(MeterFault fault)
{
    for (const auto &entry : FaultNames) {
        if (entry.first == fault)
            return QString::fromLatin1(entry.second);
    }
    return QString();
}

bool meterFaultFromName(const QString &name, MeterFault *fault)
{
    for (const auto &entry : FaultNames) {
        if (name.compare(QLatin1String(entry.second), Qt::CaseInsensitive) == 0) {
            *fault = entry.first;
            return true;
        }
    }
    return false;
}

QStringList meterFaultNames()
{
    QStringList names;
    for (const auto &entry : FaultNames)
        names.append(QString::fromLatin1(entry.second));
    return names;
}

QList<MeterFault> meterFaults()
{
    QList<MeterFault> faults;
    for (const auto &entry : FaultNames)
        faults.append(entry.first);
    return faults;
}

QList<MeterPhase> meterPhases()
{
    QList<MeterPhase> phases;
    for (const PhaseFaults &entry : Phases)
        phases.append(entry.phase);
    return phases;
}

QString meterPhaseName(MeterPhase phase)
{
    return QString::fromLatin1(phaseFaults(phase).name);
}

MeterFault hangUpFault(MeterPhase phase)
{
    return phaseFaults(phase).hangUp;
}

MeterFault unplugFault(MeterPhase phase)
{
    return phaseFaults(phase).unplug;
}

bool VirtualMeterOptions::unplugs() const
{
    for (const PhaseFaults &entry : Phases)
        if (has(entry.unplug))
            return true;
    return false;
}

QSize VirtualMeterOptions::storedSizeOrDefault() const
{
    if (storedSize.isValid())
        return storedSize;
    return landscape ? QSize(480, 272) : QSize(272, 480);
}

QSize VirtualMeterOptions::shownSize() const
{
    const QSize stored = storedSizeOrDefault();
    return landscape ? stored : stored.transposed();
}

QString VirtualMeterOptions::problem() const
{
    if (comNumber < 0)
        return QStringLiteral("the COM number must be 0 or more");
    if (statusLength < MinStatusLength)
        return QStringLiteral("the status record length must be at least %1").arg(MinStatusLength);
    const QSize stored = storedSizeOrDefault();
    if (stored.width() < 1 || stored.width() > MaxStoredWidth || stored.height() < 1
        || stored.height() > MeterScreen::MaxStoredHeight)
        return QStringLiteral("the stored screen must be 1 to %1 pixels wide and 1 to %2 high")
            .arg(MaxStoredWidth).arg(MeterScreen::MaxStoredHeight);
    if (latencyMs < 0 || latencyMs > MaxLatencyMs)
        return QStringLiteral("the latency must be 0 to %1 ms").arg(MaxLatencyMs);
    if (chunk < 0 || chunk > MaxChunk)
        return QStringLiteral("the chunk must be 0 to %1 bytes").arg(MaxChunk);
    if (versionLine.contains('\r') || versionLine.contains('\n'))
        return QStringLiteral("the version line must not contain line ends");
    return QString();
}

QMap<quint16, quint8> VirtualMeterOptions::defaultEeprom()
{
    // Words 40 and 42 and the package id are kept low byte first; byte 46 lies in 1..16.
    return {{40, 0x34}, {41, 0x12}, {42, 0x78}, {43, 0x56}, {46, 8}, {64, 0x2A}, {65, 0x01}};
}

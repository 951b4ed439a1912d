#pragma once

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Misbehaviours the virtual instrument can be told to show, one set per run.
enum class MeterFault {
    Silent,               // answers nothing at all
    NoAck,                // answers "@AT+++" / "@AT---" with "ER" instead of "OK"
    WrongChecksum,        // status record with a checksum that does not add up
    ShortStatus,          // status record one byte shorter than it announces (L + 1 bytes)
    SplitStatus,          // announces L = 40, sends 32 bytes, pauses ~300 ms, sends the rest
    SwappedTrailer,       // every memory read ends "OK", CR, LF
    SwappedImageTrailer,  // only the screen image read ends "OK", CR, LF
    Garbage,              // answers every command with random bytes without CR or LF
    StallInRead,          // screen image read: about half the data, then nothing more
    PauseInImage,         // screen image read: about half the data, a 5 s pause, then the rest
    ShortImage,           // screen image read: 100 data bytes fewer, then a correct trailer
    AbsurdGeometry,       // screen description of 65535 x 65535 pixels at ImageAddress 0x10
    HaltRefused,          // "@ATDSPSTOPLOGO" answered "ER"
    RestartRefused,       // "@ATDSPSTART" answered "ER"
    LateHaltAck,          // "@ATDSPSTOPLOGO" halts at once but is acknowledged only after 1.5 s
    LateRestartAck,       // "@ATDSPSTART" restarts at once but is acknowledged only after 5 s
    Garbled,              // a few junk bytes (no line ends) before every reply, as a noisy line adds
    // The line goes away in a phase (see MeterPhase): a hang-up closes the instrument's side of
    // the line; an unplug also removes its COM link, as an adapter pulled out takes its device.
    HangUpInIdentification, HangUpInDirectory, HangUpInDspStatus, HangUpInHalt, HangUpInImage, HangUpInRestart,
    UnplugInIdentification, UnplugInDirectory, UnplugInDspStatus, UnplugInHalt, UnplugInImage, UnplugInRestart,
};

// Where in a capture a line can go away, in the order a capture reaches them:
// identification (half the status record), directory (half the directory table), DSP status
// (one byte of the status word), halt (the DSP halts, no acknowledgement), image (half the
// stored image), restart (no restart, no acknowledgement).
enum class MeterPhase { Identification, Directory, DspStatus, Halt, Image, Restart };
QList<MeterPhase> meterPhases();
QString meterPhaseName(MeterPhase phase);
MeterFault hangUpFault(MeterPhase phase);
MeterFault unplugFault(MeterPhase phase);

// Names as the command line takes them ("silent", "no-ack", "wrong-checksum", "late-ack",
// "hang-up-in-image", "unplug-in-directory", ...). meterFaults() lists every fault once.
QString meterFaultName(MeterFault fault);
bool meterFaultFromName(const QString &name, MeterFault *fault);
QStringList meterFaultNames();
QList<MeterFault> meterFaults();

inline size_t qHash(MeterFault fault, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(fault), seed);
}


// Everything that makes one virtual instrument: identity, memory contents, screen and faults.
struct VirtualMeterOptions
{
    static constexpr quint16 DefaultStatusWord = 0;
    static constexpr quint16 RefusingStatusWord = 17;  // the instrument will not give its picture

    int comNumber = 0;            // COM<n> link in the ports folder; 0 makes no link
    quint8 modelCode = 220;
    quint16 serialNumber = 4660;
    quint8 mcuMajor = 1;
    quint8 mcuMinor = 5;
    quint8 fpgaVersion = 3;
    QByteArray versionLine = "CORVANE ALVO FW 1.05 2026-03-11";  // "@ATVER" reply, line end added
    quint8 statusLength = 32;     // L: the record is L + 2 bytes; 32 or more
    QMap<quint16, quint8> eeprom = defaultEeprom();
    QSet<quint16> silentEeprom;   // EEPROM addresses that get no answer
    quint16 dspStatus = DefaultStatusWord;
    bool pace = false;            // 9600-baud timing: byte by byte, about 960 bytes a second
    int latencyMs = 0;            // a reply starts this long after its request at the earliest
    bool holdPort = false;        // holds its line as another program would: no program can open it
    int chunk = 0;                // bytes handed over together, as a USB adapter does; 0: any

    // The picture as the instrument shows it; null gives the generated default screen. Scaled
    // to fit the shown size (keeping its aspect, centred on black) and reduced to the palette.
    QImage screen;
    // The stored image's size; QSize() gives 272 x 480 (portrait, turned) or 480 x 272 (landscape).
    // A portrait screen is shown storedSize.transposed(); stored heights above 512 do not fit a
    // strip and are refused. Widths need not be multiples of 8: the instrument then leaves the
    // last columns unstored.
    QSize storedSize;
    bool landscape = false;       // stored as shown (orientation 1) instead of turned (0)
    bool fallbackPalette = false; // colour 3 is not (60, 60, 60), so the reader must replace it

    QSet<MeterFault> faults;
    QByteArray lineEnd = "\r\n";  // ends "OK"/"ER" acknowledgements

    bool has(MeterFault fault) const { return faults.contains(fault); }
    // The line goes away in this phase (hang-up or unplug).
    bool losesLineIn(MeterPhase phase) const { return has(hangUpFault(phase)) || has(unplugFault(phase)); }
    bool unplugs() const;
    QSize storedSizeOrDefault() const;
    QSize shownSize() const;  // the stored size, transposed for a portrait screen
    // Empty when the options make a meter; otherwise what is wrong with them.
    QString problem() const;

    static QMap<quint16, quint8> defaultEeprom();
};

#pragma once

#include <QByteArray>
#include <QRgb>
#include <QVector>
#include <array>

class TqzMeterCom;

// One directory entry as read from the instrument.
struct TDirectoryEntry
{
    quint32 Address = 0;
    quint16 ElementSize = 0;
    quint16 Count = 0;
    quint32 Value10 = 0;   // the entry's uninterpreted fields, by offset
    quint16 Value14 = 0;
    quint16 Value16 = 0;
    quint16 Value8 = 0;
    quint16 Value18 = 0;
};

// One item of instrument memory, alive for the duration of one read.
struct TPresetData
{
    qint32 Count = 0;
    qint32 ElementSize = 0;
    quint32 Address = 0;
    quint32 Value16 = 0;   // carried from the directory entry, never used
    quint32 Value14 = 0;
    quint32 Value10 = 0;
    QByteArray Data;
};

using TPalette = std::array<QRgb, 8>;

// What the capture needs of the instrument's screen, handed over as a value.
struct ScreenDescription
{
    quint16 width = 0;
    quint16 height = 0;
    quint16 orientation = 0;   // 0: stored turned, to be turned upright
    quint32 imageAddress = 0;
    TPalette palette{};
};

// Finds and reads what a screen capture needs from the instrument's memory: the directory,
// the screen description and the 8-colour palette. It only reads.
class TInstrumentMemory
{
public:
    static constexpr quint32 DirectoryPointerAddress = 0x1C480;
    static constexpr quint32 DefaultDirectoryAddress = 0x80000;
    static constexpr int DirectoryEntries = 33;
    static constexpr int DirectoryEntrySize = 20;
    static constexpr quint16 BlockSize = 128;
    static constexpr int ScreenEntry = 31;
    static constexpr int PaletteEntry = 27;

    // Reads through link, which outlives the reader.
    explicit TInstrumentMemory(TqzMeterCom &link) : m_link(link) {}

    bool ReadDirectory();
    bool ReadScreenInfo();
    // The screen description and palette as the last ReadScreenInfo left them.
    ScreenDescription screenDescription() const;
    bool ReadDirectoryAddress();
    bool ReadPalette();
    bool LoadEntry(TPresetData &item, int index);
    void LoadData(TPresetData &item);
    bool LoadSubEntry(const TPresetData &source, TPresetData &dest, int index);

    // Raises std::overflow_error when the quotient does not fit 16 bits.
    static quint16 BlockCount(quint32 size, quint16 block);
    static quint32 GetBigEndian(const QByteArray &data, qint64 offset, int count);
    static quint16 GetWord(const QByteArray &data, qint64 offset);
    static QRgb GetColor(const QByteArray &data, qint64 offset);
    static const TPalette &FallbackPalette();

    quint32 DirectoryAddress = DefaultDirectoryAddress;
    QVector<TDirectoryEntry> Directory;
    quint16 ScreenWidth = 0;
    quint16 ScreenHeight = 0;
    quint16 ScreenOrientation = 0;
    quint32 ImageAddress = 0;
    TPalette Palette{};

private:
    TqzMeterCom &m_link;
};

#pragma once

#include "ScriptedComPort.h"
#include "qzMeterCOM.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QVector>
#include <array>
#include <memory>

// An instrument behind a scripted port, for cases that need exact control: it answers memory
// reads from a sparse memory, the DSP commands with "OK" or "ER", and logs what was asked.
class ScriptedMeter
{
public:
    static constexpr quint32 PointerAddress = 0x1C480;
    static constexpr quint32 DirectoryAddress = 0x80000;
    static constexpr quint32 ScreenItem = 0x81000;
    static constexpr quint32 ScreenDescription = 0x82000;
    static constexpr quint32 PaletteItem = 0x83000;
    static constexpr quint32 PaletteDescriptors = 0x84000;
    static constexpr quint32 PaletteColours = 0x85000;
    static constexpr quint32 DefaultImageAddress = 0x90000;
    static constexpr quint32 DspStatusAddress = 0x1C496;

    explicit ScriptedMeter(std::unique_ptr<ScriptedComPort> owned = std::make_unique<ScriptedComPort>())
    {
        port = owned.get();
        link = std::make_unique<TqzMeterCom>(std::move(owned));
        link->PollIntervalMs = 0;
        link->CommandMode = true;
        link->Idle = true;
        port->onWrite = [this](const QByteArray &data) { answer(data); };
    }

    void put(quint32 address, const QByteArray &bytes) { m_memory[address] = bytes; }
    static QByteArray be(quint32 value, int width)
    {
        QByteArray bytes(width, '\0');
        for (int i = 0; i < width; ++i)
            bytes[i] = char(value >> (8 * (width - 1 - i)));
        return bytes;
    }

    // A whole instrument: pointer, directory, screen description, palette and the stored image.
    void build(quint16 width, quint16 height, quint16 orientation, const std::array<QRgb, 8> &palette,
               const QByteArray &image, quint32 imageAddress = DefaultImageAddress)
    {
        put(PointerAddress, be(DirectoryAddress, 4));
        QByteArray directory(660, '\0');
        auto entry = [&](int index, quint32 address, quint16 size, quint16 count) {
            directory.replace(index * 20, 8, be(address, 4) + be(size, 2) + be(count, 2));
        };
        for (int i = 0; i < 33; ++i)
            entry(i, 0x70000 + 0x100 * i, 4, 2);  // entries nothing uses
        entry(31, ScreenItem, 8, 1);
        entry(27, PaletteItem, 8, 3);
        put(DirectoryAddress, directory);
        put(ScreenItem, be(ScreenDescription, 4) + be(22, 2) + be(1, 2));
        setDescription(width, height, orientation, imageAddress);
        put(PaletteItem, QByteArray(8, '\x55') + be(PaletteDescriptors, 4) + be(8, 2) + be(3, 2) + QByteArray(8, '\x66'));
        put(PaletteDescriptors, QByteArray(16, '\x77') + be(PaletteColours, 4) + be(3, 2) + be(8, 2));
        setPalette(palette);
        put(imageAddress - 1440, image);
    }
    void setDescription(quint16 width, quint16 height, quint16 orientation, quint32 imageAddress)
    {
        put(ScreenDescription, be(0xABCD, 2) + be(0x1234, 2) + be(width, 2) + be(height, 2)
                                   + be(orientation, 2) + QByteArray(8, '\x11') + be(imageAddress, 4));
    }
    void setPalette(const std::array<QRgb, 8> &palette)
    {
        QByteArray colours;
        for (QRgb colour : palette) {
            colours += char(qRed(colour));
            colours += char(qGreen(colour));
            colours += char(qBlue(colour));
        }
        put(PaletteColours, colours);
    }

    QByteArray read(quint32 address, quint32 length) const
    {
        QByteArray out(int(length), '\0');
        for (auto it = m_memory.begin(); it != m_memory.end(); ++it) {
            const qint64 from = qMax<qint64>(address, it.key());
            const qint64 to = qMin<qint64>(qint64(address) + length, qint64(it.key()) + it.value().size());
            for (qint64 a = from; a < to; ++a)
                out[int(a - address)] = it.value().at(int(a - it.key()));
        }
        return out;
    }

    int readsAt(quint32 address) const
    {
        int count = 0;
        for (const auto &r : reads)
            count += r.first == address ? 1 : 0;
        return count;
    }

    // Behaviour switches.
    bool haltAck = true;
    bool restartAck = true;
    quint16 dspStatus = 0;
    QSet<quint32> silentAt;        // reads at these addresses get no answer
    QSet<quint32> swappedAt;       // reads at these addresses end "OK", CR, LF
    QMap<quint32, int> shortenAt;  // reads at these addresses send this many bytes fewer (or more)

    ScriptedComPort *port = nullptr;
    std::unique_ptr<TqzMeterCom> link;
    QList<QPair<quint32, quint32>> reads;   // address, length
    QStringList commands;                   // DSP commands in order

private:
    void answer(const QByteArray &data)
    {
        if (m_readPart > 0 && !data.startsWith("@AT")) {
            m_readRequest += data;
            if (++m_readPart == 3) {
                m_readPart = 0;
                const quint32 address = quint32(readBe(m_readRequest, 0));
                const quint32 length = quint32(readBe(m_readRequest, 4));
                serveRead(address, length);
            }
            return;
        }
        if (data == "@ATSPI1Read\r") {
            m_readPart = 1;
            m_readRequest.clear();
        } else if (data == "@AT+++\r" || data == "@AT---\r" || data == "@ATDSPCMD\r") {
            port->deliver("OK\r\n");
        } else if (data == "@ATDSPSTOPLOGO\r") {
            commands << QStringLiteral("stop");
            port->deliver(haltAck ? "OK\r\n" : "ER\r\n");
        } else if (data == "@ATDSPSTART\r") {
            commands << QStringLiteral("start");
            port->deliver(restartAck ? "OK\r\n" : "ER\r\n");
        }
    }
    static quint64 readBe(const QByteArray &bytes, int at)
    {
        quint64 value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | quint8(bytes.at(at + i));
        return value;
    }
    void serveRead(quint32 address, quint32 length)
    {
        reads.append({address, length});
        if (silentAt.contains(address))
            return;
        QByteArray data = address == DspStatusAddress && length == 2 ? be(dspStatus, 2) : read(address, length);
        const int fewer = shortenAt.value(address);
        if (fewer > 0)
            data.chop(fewer);
        else if (fewer < 0)
            data += QByteArray(-fewer, '\x42');
        data += swappedAt.contains(address) ? QByteArray("OK\r\n") : QByteArray("OK\n\r");
        // Large replies come in pieces, as a line delivers them.
        for (int at = 0; at < data.size(); at += 4096)
            port->deliver(data.mid(at, 4096));
    }

    QMap<quint32, QByteArray> m_memory;
    int m_readPart = 0;
    QByteArray m_readRequest;
};

// The instrument's strip layout, written independently of the decoder: indices is W x H, row
// by row; rows past H are filled with a pattern the decoder must ignore.
inline QByteArray encodeStrips(const QVector<quint8> &indices, int width, int height)
{
    const int strips = width / 8;
    QByteArray data(strips * 1536, '\x5A');
    for (int s = 0; s < strips; ++s)
        for (int r = 0; r < height; ++r) {
            quint32 v = 0;
            for (int k = 0; k < 8; ++k)
                v = (v << 3) | (indices[r * width + 8 * s + k] & 7u);
            data[s * 1536 + 3 * r] = char(v >> 16);
            data[s * 1536 + 3 * r + 1] = char(v >> 8);
            data[s * 1536 + 3 * r + 2] = char(v);
        }
    return data;
}

inline QVector<quint8> patternIndices(int width, int height)
{
    QVector<quint8> indices(width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            indices[y * width + x] = quint8((x * 7 + y * 3 + (x * y) / 5) & 7);
    return indices;
}

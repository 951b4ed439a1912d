#pragma once

#include "InstrumentMemory.h"
#include "ScriptedComPort.h"
#include "qzMeterCOM.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <memory>

// An instrument behind a scripted port, for cases that need exact control: a sparse memory
// holding a 16 x 10 portrait screen, "OK" or "ER" to the DSP commands, and a log of requests.
class ScriptedMeter
{
public:
    static constexpr quint32 PointerAddress = 0x1C480;
    static constexpr quint32 DirectoryAddress = 0x80000;
    static constexpr quint32 ScreenItem = 0x81000;
    static constexpr quint32 ScreenDescription = 0x82000;
    static constexpr quint32 ImageAddress = 0x90000;
    static constexpr quint32 ImageStart = ImageAddress - 1440;
    static constexpr quint32 DspStatusAddress = 0x1C496;
    static inline const TPalette Palette = {qRgb(0, 0, 0),   qRgb(0, 0, 160), qRgb(0, 160, 0),   qRgb(60, 60, 60),
                                            qRgb(160, 0, 0), qRgb(9, 8, 7),   qRgb(200, 200, 0), qRgb(255, 254, 253)};

    explicit ScriptedMeter(std::unique_ptr<ScriptedComPort> owned = std::make_unique<ScriptedComPort>())
        : port(owned.get()), link(std::make_unique<TqzMeterCom>(std::move(owned)))
    {
        // Its waits run on a virtual clock: a timeout costs only its polls, not its seconds.
        link->setClock(std::make_shared<VirtualLinkClock>());
        link->CommandMode = true;
        link->Idle = true;
        port->onWrite = [this](const QByteArray &data) { answer(data); };
        // Directory entries nothing uses, then the screen list (31) and the colour chain (27).
        put(PointerAddress, be(DirectoryAddress, 4));
        QByteArray directory;
        for (int i = 0; i < 33; ++i)
            directory += be(i == 31 ? ScreenItem : i == 27 ? 0x83000 : 0x70000 + 0x100 * i, 4) + be(i == 27 || i == 31 ? 8 : 4, 2)
                         + be(i == 31 ? 1 : i == 27 ? 3 : 2, 2) + QByteArray(12, '\0');
        put(DirectoryAddress, directory);
        put(ScreenItem, be(ScreenDescription, 4) + be(22, 2) + be(1, 2));
        setDescription(16, 10, 0, ImageAddress);
        put(0x83000, QByteArray(8, '\x55') + be(0x84000, 4) + be(8, 2) + be(3, 2) + QByteArray(8, '\x66'));
        put(0x84000, QByteArray(16, '\x77') + be(0x85000, 4) + be(3, 2) + be(8, 2));
        QByteArray colours;
        for (QRgb colour : Palette)
            colours += be(colour & 0xFFFFFF, 3);
        put(0x85000, colours);
        put(ImageStart, encodeStrips(patternIndices(16, 10), 16, 10));
    }

    void put(quint32 address, const QByteArray &bytes) { m_memory[address] = bytes; }
    static QByteArray be(quint32 value, int width)
    {
        const quint32 big = qToBigEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&big) + 4 - width, width);
    }
    void setDescription(quint16 width, quint16 height, quint16 orientation, quint32 imageAddress)
    {
        put(ScreenDescription, be(0xABCD, 2) + be(0x1234, 2) + be(width, 2) + be(height, 2) + be(orientation, 2)
                                   + QByteArray(8, '\x11') + be(imageAddress, 4));
    }

    // The instrument's strip layout, written independently of the decoder: indices is W x H, row
    // by row; rows past H are filled with a pattern the decoder must ignore.
    static QByteArray encodeStrips(const QVector<quint8> &indices, int width, int height)
    {
        QByteArray data(width / 8 * 1536, '\x5A');
        for (int s = 0; s < width / 8; ++s)
            for (int r = 0; r < height; ++r) {
                quint32 v = 0;
                for (int k = 0; k < 8; ++k)
                    v = (v << 3) | (indices[r * width + 8 * s + k] & 7u);
                data.replace(s * 1536 + 3 * r, 3, be(v, 3));
            }
        return data;
    }
    static QVector<quint8> patternIndices(int width, int height)
    {
        QVector<quint8> indices(width * height);
        for (int i = 0; i < width * height; ++i)
            indices[i] = quint8((i % width * 7 + i / width * 3 + (i % width) * (i / width) / 5) & 7);
        return indices;
    }

    // Behaviour switches.
    bool haltAck = true;
    bool restartAck = true;
    quint16 dspStatus = 0;
    QSet<quint32> silentAt;        // reads at these addresses get no answer
    QSet<quint32> swappedAt;       // reads at these addresses end "OK", CR, LF
    QMap<quint32, int> shortenAt;  // reads at these addresses send this many bytes fewer (or more)

    ScriptedComPort *port;
    std::unique_ptr<TqzMeterCom> link;
    TInstrumentMemory memory{*link};
    QList<QPair<quint32, quint32>> reads;   // address, length
    QStringList commands;                   // DSP and command-mode commands in order

private:
    void answer(const QByteArray &data)
    {
        if (m_readPart > 0 && !data.startsWith("@AT")) {
            m_readRequest += data;
            if (++m_readPart == 3) {  // the command, then address and length in two writes
                m_readPart = 0;
                serveRead(quint32(m_readRequest.left(4).toHex().toUInt(nullptr, 16)), quint32(m_readRequest.mid(4, 4).toHex().toUInt(nullptr, 16)));
            }
        } else if (data == "@ATSPI1Read\r") {
            m_readPart = 1;
            m_readRequest.clear();
        } else if (data == "@ATDSPSTOPLOGO\r" || data == "@ATDSPSTART\r") {
            const bool halt = data == "@ATDSPSTOPLOGO\r";
            commands << (halt ? QStringLiteral("stop") : QStringLiteral("start"));
            port->deliver((halt ? haltAck : restartAck) ? "OK\r\n" : "ER\r\n");
        } else if (data == "@AT+++\r" || data == "@AT---\r") {
            commands << (data == "@AT+++\r" ? QStringLiteral("enter") : QStringLiteral("leave"));
            port->deliver("OK\r\n");
        } else if (data == "@ATDSPCMD\r") {
            port->deliver("OK\r\n");
        }
    }
    void serveRead(quint32 address, quint32 length)
    {
        reads.append({address, length});
        if (silentAt.contains(address))
            return;
        QByteArray data(int(length), '\0');
        // Each stored block is copied whole where it overlaps the read: the fuzzers serve every
        // input this way, and a copy byte by byte took much of their time.
        for (auto it = m_memory.cbegin(); it != m_memory.cend(); ++it) {
            const qint64 from = qMax<qint64>(address, it.key());
            const qint64 to = qMin<qint64>(qint64(address) + length, it.key() + qint64(it.value().size()));
            if (from < to)
                std::copy_n(it.value().constData() + (from - it.key()), to - from, data.data() + (from - address));
        }
        if (address == DspStatusAddress && length == 2)
            data = be(dspStatus, 2);
        const int fewer = shortenAt.value(address);
        data = fewer >= 0 ? data.left(data.size() - fewer) : data + QByteArray(-fewer, '\x42');
        data += swappedAt.contains(address) ? QByteArray("OK\r\n") : QByteArray("OK\n\r");
        for (int at = 0; at < data.size(); at += 4096)  // large replies come in pieces, as a line delivers them
            port->deliver(data.mid(at, 4096));
    }

    QMap<quint32, QByteArray> m_memory;
    int m_readPart = 0;
    QByteArray m_readRequest;
};

#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// One request as the instrument reads it off the line.
struct MeterRequest
{
    enum Kind {
        CommandModeOn,    // "@AT+++"
        CommandModeOff,   // "@AT---"
        Status,           // "@ATSTAT"
        Version,          // "@ATVER"
        Spi0Id,           // "@ATSPI0GETID"
        FlashId,          // "@ATRDFlashID"
        ReadEeprom,       // "@ATGETEE" + 2 address bytes
        StopDsp,          // "@ATDSPSTOPLOGO"
        StartDsp,         // "@ATDSPSTART"
        DspCommand,       // "@ATDSPCMD" (its 8-byte block follows as DspCommandBlock)
        DspCommandBlock,  // the 8 bytes after "@ATDSPCMD"
        ReadMemory,       // "@ATSPI1Read" + 4 address bytes + 4 length bytes
        Unknown,          // any other line starting with "@"
    };
    Kind kind = Unknown;
    QByteArray text;        // the command line without its CR
    QByteArray parameters;  // the raw bytes that followed it
    quint32 address = 0;    // ReadMemory, ReadEeprom
    quint32 length = 0;     // ReadMemory
};

// Reads the instrument's commands from the byte stream. A command is text from "@" to CR;
// some are followed by a fixed number of raw parameter bytes that may hold any value (CR
// included) and may arrive in pieces, so the parser keeps its state between feeds.
class MeterCommandParser
{
public:
    // Everything that became complete with these bytes, in order.
    QList<MeterRequest> feed(const QByteArray &bytes);

    static constexpr int MaxCommandLength = 64;  // longer lines are noise and are dropped

private:
    void finishLine(QList<MeterRequest> &done);
    void finishParameters(QList<MeterRequest> &done);

    enum class State { Idle, Line, Parameters };
    State m_state = State::Idle;
    QByteArray m_line;
    MeterRequest m_pending;   // the request waiting for its parameter bytes
    int m_parametersWanted = 0;
};

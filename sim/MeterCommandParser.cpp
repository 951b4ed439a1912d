#include "MeterCommandParser.h"

namespace {

constexpr char CommandStart = '@';
constexpr char CommandEnd = '\r';
constexpr int EepromParameterBytes = 2;
constexpr int ReadParameterBytes = 8;
constexpr int DspBlockBytes = 8;

struct CommandName
{
    const char *text;
    MeterRequest::Kind kind;
    int parameterBytes;
};

const CommandName Commands[] = {
    {"@AT+++", MeterRequest::CommandModeOn, 0},
    {"@AT---", MeterRequest::CommandModeOff, 0},
    {"@ATSTAT", MeterRequest::Status, 0},
    {"@ATVER", MeterRequest::Version, 0},
    {"@ATSPI0GETID", MeterRequest::Spi0Id, 0},
    {"@ATRDFlashID", MeterRequest::FlashId, 0},
    {"@ATGETEE", MeterRequest::ReadEeprom, EepromParameterBytes},
    {"@ATDSPSTOPLOGO", MeterRequest::StopDsp, 0},
    {"@ATDSPSTART", MeterRequest::StartDsp, 0},
    {"@ATDSPCMD", MeterRequest::DspCommand, 0},
    {"@ATSPI1Read", MeterRequest::ReadMemory, ReadParameterBytes},
};

quint32 bigEndian(const QByteArray &bytes, int offset, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

}  // namespace

QList<MeterRequest> MeterCommandParser::feed(const QByteArray &bytes)
{
    QList<MeterRequest> done;
    for (const char byte : bytes) {
        switch (m_state) {
        case State::Idle:
            // Anything between commands (stray line feeds, noise) is skipped.
            if (byte == CommandStart) {
                m_line = QByteArray(1, byte);
                m_state = State::Line;
            }
            break;
        case State::Line:
            if (byte == CommandEnd) {
                finishLine(done);
            } else if (m_line.size() >= MaxCommandLength) {
                m_state = State::Idle;
            } else {
                m_line.append(byte);
            }
            break;
        case State::Parameters:
            m_pending.parameters.append(byte);
            if (m_pending.parameters.size() == m_parametersWanted)
                finishParameters(done);
            break;
        }
    }
    return done;
}

void MeterCommandParser::finishLine(QList<MeterRequest> &done)
{
    m_state = State::Idle;
    MeterRequest request;
    request.text = m_line;
    for (const CommandName &command : Commands) {
        if (m_line == command.text) {
            request.kind = command.kind;
            if (command.parameterBytes > 0) {
                m_pending = request;
                m_parametersWanted = command.parameterBytes;
                m_state = State::Parameters;
                return;
            }
            break;
        }
    }
    done.append(request);
    // The DSP command's block follows its acknowledgement; it is read like parameters.
    if (request.kind == MeterRequest::DspCommand) {
        m_pending = MeterRequest();
        m_pending.kind = MeterRequest::DspCommandBlock;
        m_parametersWanted = DspBlockBytes;
        m_state = State::Parameters;
    }
}

void MeterCommandParser::finishParameters(QList<MeterRequest> &done)
{
    if (m_pending.kind == MeterRequest::ReadEeprom) {
        m_pending.address = bigEndian(m_pending.parameters, 0, 2);
    } else if (m_pending.kind == MeterRequest::ReadMemory) {
        m_pending.address = bigEndian(m_pending.parameters, 0, 4);
        m_pending.length = bigEndian(m_pending.parameters, 4, 4);
    }
    done.append(m_pending);
    m_pending = MeterRequest();
    m_state = State::Idle;
}

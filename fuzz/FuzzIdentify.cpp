// Connecting and identifying against an instrument whose every reply comes from the input: the
// status record, the version line, the chip and flash identifiers and the EEPROM bytes, whole,
// cut short, too long or split in two. The link must end every exchange with a result and keep
// the record's documented limits.
//
// Input: one record per command the link sends: the reply's length (2 bytes), the split point
// (1 byte; a smaller value delivers the reply in two receive events), then the reply.

#include "FuzzInput.h"
#include "ScriptedComPort.h"
#include "qzMeterCOM.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    auto owned = std::make_unique<ScriptedComPort>();
    ScriptedComPort *port = owned.get();
    TqzMeterCom link(std::move(owned));
    link.setClock(std::make_shared<VirtualLinkClock>());
    port->onWrite = [&](const QByteArray &written) {
        if (!written.startsWith("@AT"))
            return;  // an EEPROM address, sent after its command
        const quint16 length = input.word();
        const quint8 split = input.byte();
        const QByteArray reply = input.bytes(length);
        if (split > 0 && split < reply.size()) {
            port->deliver(reply.left(split));
            port->deliver(reply.mid(split));
        } else if (!reply.isEmpty()) {
            port->deliver(reply);
        }
    };

    if (link.Connect()) {
        const TqzMeterInfo &info = link.Info;
        if (info.Version.size() > MeterProtocol::VersionMaxLength || info.EepromByte46 < 1 || info.EepromByte46 > 16
            || info.SerialNumber < 0 || info.SerialNumber > 65535 || !link.CommandMode)
            std::abort();
    }
    link.Disconnect();
    return 0;
}

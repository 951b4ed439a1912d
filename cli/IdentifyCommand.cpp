#include "IdentifyCommand.h"

#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "InstrumentRows.h"
#include "qzMeterCOM.h"

#include <QJsonDocument>
#include <QJsonObject>

int runIdentifyCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    int failure = ExitCode::Success;
    std::unique_ptr<TqzMeterCom> link = connectInstrument(request.port, err, &failure);
    if (!link)
        return failure;
    const QList<InstrumentRow> rows = instrumentRows(link->Info);
    if (request.json) {
        const int number = connectedPortNumber(*link);
        QJsonObject object{
            {QStringLiteral("port"), number >= 0 ? QJsonValue(QStringLiteral("COM%1").arg(number)) : QJsonValue()},
            {QStringLiteral("device"), connectedDevice(*link)},
        };
        for (const InstrumentRow &row : rows)
            object.insert(row.key, row.value);
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        out << QStringLiteral("Connected to %1\n").arg(connectedPortText(*link));
        for (const InstrumentRow &row : rows)
            out << row.text << '\n';
    }
    link->Disconnect();
    return ExitCode::Success;
}

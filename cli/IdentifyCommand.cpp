#include "IdentifyCommand.h"

#include "CommandLine.h"
#include "Connection.h"
#include "ExitCodes.h"
#include "InstrumentRows.h"
#include "qzMeterCOM.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The About box aligns each of its two columns on its own; on a terminal the rows make one table,
// labels aligned on their colons.
void printTable(const QList<InstrumentRow> &rows, QTextStream &out)
{
    const QString separator = QStringLiteral(": ");
    qsizetype width = 0;
    for (const InstrumentRow &row : rows)
        width = qMax(width, row.text.section(separator, 0, 0).trimmed().size());
    for (const InstrumentRow &row : rows) {
        const QString label = row.text.section(separator, 0, 0).trimmed();
        out << label.rightJustified(width) << separator << row.text.section(separator, 1) << '\n';
    }
}

}  // namespace

int runIdentifyCommand(const CommandRequest &request, QTextStream &out, QTextStream &err)
{
    std::unique_ptr<TqzMeterCom> link = connectInstrument(request.port, err);
    if (!link)
        return ExitCode::NoInstrument;
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
        printTable(rows, out);
    }
    link->Disconnect();
    return ExitCode::Success;
}

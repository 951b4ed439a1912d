#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>

struct TqzMeterInfo;

// One line of the connected instrument's identification, as the About box and
// `snaploom identify` show it.
struct InstrumentRow
{
    QString key;        // its name in `snaploom identify --json`
    QString text;       // the line as shown, label and value, colons aligned in a fixed-pitch font
    QJsonValue value;   // the value alone
};

// The rows in the About box's order: instrument type and serial number (its left column), then
// package id, MCU version and FPGA version (its right column).
QList<InstrumentRow> instrumentRows(const TqzMeterInfo &info);

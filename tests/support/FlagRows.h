#pragma once

// The data of a test that runs twice, once with a flag off and once with it on.

#include <QtTest>

inline void addFlagRows(const char *column, const char *whenOff, const char *whenOn)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenOff) << false;
    QTest::newRow(whenOn) << true;
}

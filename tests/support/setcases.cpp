#include "tests/support/setcases.h"

#include <QTest>

const QList<SetCase> &setCases()
{
    static const QList<SetCase> cases{
            {"start values", 3, 0, 1000, 0, 1001, "03000091", false},
            {"1000 and 2000", 3, 1000, 2000, 1001, 2002, "03091182", false},
            {"5 and 6", 3, 5, 6, 0, 11, "03000001", false},
            {"width clamped 273 to 256", 3, 2800, 3000, 2805, 2816, "03255256", true},
            {"full delay clamps width", 3, 5621, 1000, 5621, 0, "03511000", true},
            {"delay 5616 rounds up to full", 3, 5616, 500, 5621, 0, "03511000", true},
            {"channel 16", 16, 5621, 0, 5621, 0, "16511000", false},
            {"channel 1, nothing", 1, 0, 0, 0, 0, "01000000", false},
            {"exactly 511 steps", 9, 2805, 2816, 2805, 2816, "09255256", false},
            {"512 steps", 9, 2805, 2827, 2805, 2816, "09255256", true},
            {"full width", 12, 0, 5621, 0, 5621, "12000511", false},
    };
    return cases;
}

void addSetCaseRows()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("delayPs");
    QTest::addColumn<int>("widthPs");
    QTest::addColumn<int>("appliedDelayPs");
    QTest::addColumn<int>("appliedWidthPs");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("widthClamped");

    for (const SetCase &entry : setCases()) {
        QTest::newRow(entry.name) << entry.channel << entry.delayPs << entry.widthPs
                                  << entry.appliedDelayPs << entry.appliedWidthPs << entry.frame
                                  << entry.widthClamped;
    }
}

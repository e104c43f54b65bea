#include "pulse/pulsesteps.h"
#include "tests/support/setcases.h"

#include <QTest>

class TestPulseSteps : public QObject
{
    Q_OBJECT

private slots:
    void toSteps_data();
    void toSteps();
    void pulseStepsFor_data();
    void pulseStepsFor();
};

void TestPulseSteps::toSteps_data()
{
    QTest::addColumn<int>("timePs");
    QTest::addColumn<int>("steps");

    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("5 ps rounds down") << 5 << 0;
    QTest::newRow("6 ps rounds up") << 6 << 1;
    QTest::newRow("one step") << 11 << 1;
    QTest::newRow("16 ps stays at one step") << 16 << 1;
    QTest::newRow("17 ps goes to two steps") << 17 << 2;
    QTest::newRow("1000 ps") << 1000 << 91;
    QTest::newRow("2000 ps") << 2000 << 182;
    QTest::newRow("2800 ps") << 2800 << 255;
    QTest::newRow("3000 ps") << 3000 << 273;
    QTest::newRow("5615 ps") << 5615 << 510;
    QTest::newRow("5616 ps") << 5616 << 511;
    QTest::newRow("5621 ps, the field's maximum") << 5621 << 511;
    QTest::newRow("negative rounds away from zero") << -6 << -1;
    QTest::newRow("negative small rounds to zero") << -5 << 0;
}

void TestPulseSteps::toSteps()
{
    QFETCH(int, timePs);
    QFETCH(int, steps);
    QCOMPARE(::toSteps(timePs), steps);
}

void TestPulseSteps::pulseStepsFor_data()
{
    QTest::addColumn<int>("delayPs");
    QTest::addColumn<int>("widthPs");
    QTest::addColumn<int>("delaySteps");
    QTest::addColumn<int>("widthSteps");

    for (const SetCase &entry : setCases()) {
        QTest::newRow(entry.name) << entry.delayPs << entry.widthPs
                                  << entry.appliedDelayPs / kStepPs
                                  << entry.appliedWidthPs / kStepPs;
    }
    for (int delayPs = 5616; delayPs <= 5621; ++delayPs)
        QTest::addRow("delay %d ps leaves no width", delayPs) << delayPs << 5621 << 511 << 0;
    QTest::newRow("whole steps round to themselves") << 1001 << 2002 << 91 << 182;
}

void TestPulseSteps::pulseStepsFor()
{
    QFETCH(int, delayPs);
    QFETCH(int, widthPs);
    QFETCH(int, delaySteps);
    QFETCH(int, widthSteps);

    const PulseSteps steps = ::pulseStepsFor(delayPs, widthPs);
    QCOMPARE(steps.delaySteps, delaySteps);
    QCOMPARE(steps.widthSteps, widthSteps);
    QVERIFY(steps.delaySteps + steps.widthSteps <= kBudgetSteps);
}

QTEST_APPLESS_MAIN(TestPulseSteps)
#include "tst_pulsesteps.moc"

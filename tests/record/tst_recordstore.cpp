#include "record/journalintake.h"
#include "record/recordstore.h"
#include "record/recordtexts.h"
#include "session/generatorrecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const GeneratorKey kGenerator{QString(), QStringLiteral("/tmp/fixture/gen")};

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                   : QByteArray();
}

// What SQLite's own shell makes of the SQL, or why it failed.
QString runSqlite(const QString &path, const QByteArray &sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path});
    shell.write(sql);
    shell.closeWriteChannel();
    if (!shell.waitForFinished(10000) || shell.exitCode() != 0)
        return QStringLiteral("sqlite3 failed: ") + QString::fromUtf8(shell.readAllStandardError());
    return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
}

JournalEntry entry(int channel, std::optional<PulseSteps> steps, FrameOutcome outcome)
{
    JournalEntry made;
    made.timeMs = 1796774320339;
    made.program = QStringLiteral("test");
    made.client = QStringLiteral("test");
    made.channel = channel;
    made.steps = steps;
    made.frame = QStringLiteral("frame");
    made.outcome = outcome;
    return made;
}

} // namespace

class TestRecordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsWhatVersionOneWrote();
    void newerVersionIsLeftUntouched();
    void otherFilesAreRefused_data();
    void otherFilesAreRefused();
    void journalKeepsToItsLimit();
    void hostileTextsAreData_data();
    void hostileTextsAreData();
    void badTextsAreRefused_data();
    void badTextsAreRefused();
    void intakeIgnoresAnItemCutShort();
    void leftoversAreTakenInByTheNextProgram();

private:
    std::unique_ptr<QTemporaryDir> folder;
    QString path;
};

void TestRecordStore::init()
{
    folder = std::make_unique<QTemporaryDir>();
    path = folder->filePath(QStringLiteral("record.sqlite"));
}

// The file that version 1 wrote, made by the sqlite3 shell: everything in it
// is read, and the settings are its snapshot with the later frames replayed.
void TestRecordStore::readsWhatVersionOneWrote()
{
    QFile fixture(QStringLiteral(KESTRANE_RECORD_FIXTURES "/record-v1.sql"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    QCOMPARE(runSqlite(path, fixture.readAll()), QString());

    const Result<std::unique_ptr<RecordStore>> store = RecordStore::open(path);
    QVERIFY2(store, qPrintable(store.error()));
    RecordStore &record = *store.value();
    const Result<qint64> id = record.generatorId(kGenerator);
    QVERIFY(id);
    QCOMPARE(id.value(), 1);
    const Result<QList<JournalEntry>> journal = record.journal({{id.value()}, 0, 0, 0});
    QVERIFY(journal);
    QCOMPARE(journal->size(), 4);
    QCOMPARE(journal->at(3).outcome, FrameOutcome::Refused);
    QCOMPARE(journal->at(3).client, QStringLiteral("socket 127.0.0.1:40652 connection 1"));
    QCOMPARE(record.labels(id.value())->at(6), QStringLiteral("camera gate"));
    const Result<GeneratorSettings> settings = record.settings(id.value());
    QVERIFY(settings);
    QCOMPARE(settings->last[2]->widthSteps, 182);
    QCOMPARE(settings->last[6]->widthSteps, 1); // the refused 07005006 never held
    QVERIFY(settings->saved[6].has_value());     // the save after the snapshot
    const Result<std::optional<Setup>> setup = record.setup(id.value(), QStringLiteral("scan"));
    QVERIFY(setup && setup->has_value());
    QCOMPARE(setup.value()->channels.first().label, QStringLiteral("pump"));
    QCOMPARE(runSqlite(path, "PRAGMA integrity_check; PRAGMA user_version;"),
             QStringLiteral("ok\n%1").arg(kRecordSchemaVersion));
}

void TestRecordStore::newerVersionIsLeftUntouched()
{
    QCOMPARE(runSqlite(path, "CREATE TABLE future (x); PRAGMA user_version = 99;"), QString());
    const QByteArray before = fileHash(path);
    const Result<std::unique_ptr<RecordStore>> store = RecordStore::open(path);
    QVERIFY(!store);
    QVERIFY2(store.error().contains(QStringLiteral("newer Kestrane (record version 99")),
             qPrintable(store.error()));
    QCOMPARE(fileHash(path), before);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

void TestRecordStore::otherFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("sql"); // empty: a text file
    QTest::addColumn<QString>("said");
    QTest::newRow("text") << QByteArray() << "file is not a database";
    QTest::newRow("another program's database")
            << QByteArray("CREATE TABLE journal (x);") << "not a Kestrane record";
}

void TestRecordStore::otherFilesAreRefused()
{
    QFETCH(QByteArray, sql);
    QFETCH(QString, said);
    if (sql.isEmpty()) {
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write(QByteArray(4096, 'x')) == 4096);
    } else {
        QCOMPARE(runSqlite(path, sql), QString());
    }
    const QByteArray before = fileHash(path);
    const Result<std::unique_ptr<RecordStore>> store = RecordStore::open(path);
    QVERIFY(!store);
    QVERIFY2(store.error().contains(said), qPrintable(store.error()));
    QCOMPARE(fileHash(path), before);
}

// Trimmed a hundredth of the limit at a time, never above it, oldest first.
void TestRecordStore::journalKeepsToItsLimit()
{
    const Result<std::unique_ptr<RecordStore>> store = RecordStore::open(path, 200);
    QVERIFY(store);
    const qint64 id = store.value()->generatorId(kGenerator).value();
    for (int frame = 1; frame <= 450; ++frame) {
        JournalEntry sent = entry(1, PulseSteps{frame % 256, 0}, FrameOutcome::Ok);
        RecordStore::Changes changes{id, {&sent}, {}, {}};
        QVERIFY(store.value()->commit(changes));
        const Result<QList<JournalEntry>> journal = store.value()->journal({{id}, 0, 0, 0});
        QVERIFY(journal->size() <= 200);
        QCOMPARE(journal->last().id, sent.id);
    }
    const QList<JournalEntry> kept = store.value()->journal({{id}, 0, 0, 0}).value();
    QVERIFY(kept.size() >= 198);
    QCOMPARE(kept.first().id, 450 - kept.size() + 1);
}

void TestRecordStore::hostileTextsAreData_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("SQL") << "'; DROP TABLE journal; --";
    QTest::newRow("a path") << "../../etc/passwd";
    QTest::newRow("quotes") << "\"a\" 'b' `c`";
    QTest::newRow("markup") << "<script>alert(1)</script>";
    QTest::newRow("beyond ASCII") << "Kühler ⌁ 🔬";
}

void TestRecordStore::hostileTextsAreData()
{
    QFETCH(QString, text);
    GeneratorRecord record({true, path, kDefaultJournalLimit});
    record.setGenerator(kGenerator);
    QVERIFY(checkedLabel(text) && checkedSetupName(text));
    QVERIFY(record.setLabel(5, text));
    QVERIFY(record.storeSetup(text, {{5, {1, 2}, text}}));
    QCOMPARE(record.label(5).value(), text);
    QCOMPARE(record.setupNames().value(), QStringList{text});
    QCOMPARE(record.setup(text).value()->channels.first().label, text);
    QCOMPARE(runSqlite(path, "PRAGMA integrity_check; SELECT count(*) FROM journal;"),
             QStringLiteral("ok\n0"));
}

void TestRecordStore::badTextsAreRefused_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<bool>("label");
    QTest::addColumn<bool>("name");
    QTest::newRow("10,000 characters") << QByteArray(10000, 'a') << false << false;
    QTest::newRow("33 characters") << QByteArray(33, 'a') << false << true;
    QTest::newRow("a tab") << QByteArray("a\tb") << false << false;
    QTest::newRow("a line feed") << QByteArray("a\nb") << false << false;
    QTest::newRow("invalid UTF-8") << QByteArray("a\xff\xfe") << false << false;
    QTest::newRow("empty") << QByteArray() << true << false;
}

void TestRecordStore::badTextsAreRefused()
{
    QFETCH(QByteArray, utf8);
    QFETCH(bool, label);
    QFETCH(bool, name);
    const Result<QString> text = decodedUtf8(utf8);
    QCOMPARE(text && checkedLabel(text.value()).ok(), label);
    QCOMPARE(text && checkedSetupName(text.value()).ok(), name);
}

void TestRecordStore::intakeIgnoresAnItemCutShort()
{
    QByteArray items;
    for (qint64 ticket = 1; ticket <= 3; ++ticket)
        items += JournalIntake::encoded(
                {IntakeItem::Sent, ticket, entry(int(ticket), PulseSteps{1, 2}, FrameOutcome::Lost)});
    const QByteArray fourth = JournalIntake::encoded(
            {IntakeItem::Settled, 3, entry(3, std::nullopt, FrameOutcome::Ok)});
    {
        const Result<std::unique_ptr<JournalIntake>> intake = JournalIntake::open(path, 1);
        QVERIFY(intake);
        QVERIFY(intake.value()->append(items + fourth.left(fourth.size() - 1)));
        QVERIFY(!JournalIntake::open(path, 1)); // held
    }
    const Result<std::unique_ptr<JournalIntake>> reopened = JournalIntake::open(path, 1);
    QVERIFY(reopened);
    const Result<QList<IntakeItem>> read = reopened.value()->items();
    QVERIFY(read);
    QCOMPARE(read->size(), 3);
    QCOMPARE(read->last().entry.channel, 3);
    QCOMPARE(read->last().entry.steps->widthSteps, 2);
}

// A program killed between frames leaves them in the intake: the next one
// to drive the generator takes them in before it reads the settings.
void TestRecordStore::leftoversAreTakenInByTheNextProgram()
{
    {
        GeneratorRecord record({true, path, kDefaultJournalLimit});
        record.setGenerator(kGenerator);
    }
    {
        const Result<std::unique_ptr<JournalIntake>> intake = JournalIntake::open(path, 1);
        QVERIFY(intake);
        QVERIFY(intake.value()->append(
                JournalIntake::encoded({IntakeItem::Sent, 1, entry(4, PulseSteps{9, 9}, FrameOutcome::Lost)})
                + JournalIntake::encoded({IntakeItem::Settled, 1, entry(4, std::nullopt, FrameOutcome::Ok)})
                + JournalIntake::encoded({IntakeItem::Sent, 2, entry(5, PulseSteps{3, 4}, FrameOutcome::Lost)})));
    }
    GeneratorRecord next({true, path, kDefaultJournalLimit});
    next.setGenerator(kGenerator);
    const Result<QList<JournalEntry>> journal = next.recentJournal(10);
    QVERIFY(journal);
    QCOMPARE(journal->size(), 2);
    QCOMPARE(journal->at(0).outcome, FrameOutcome::Ok);
    QCOMPARE(journal->at(1).outcome, FrameOutcome::Lost);
    QCOMPARE(next.settings().last[3]->delaySteps, 9);
    QCOMPARE(next.settings().last[4]->widthSteps, 4); // lost: it may hold
    QCOMPARE(QFile(path + QStringLiteral(".intake-1")).size(), 0);
}

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"

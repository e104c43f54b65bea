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
    void framesAreKeptAsSentAndTellTheSettings();

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
    QVERIFY(settings->saved[6].has_value());    // the save after the snapshot
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

// In the file as it is sent, before anything is known of it; what became
// of it, and of the frames after it, is what the settings are read from.
void TestRecordStore::framesAreKeptAsSentAndTellTheSettings()
{
    GeneratorRecord record({true, path, kDefaultJournalLimit});
    record.setGenerator(kGenerator);
    const qint64 first = record.frameSent("a", "01001002", 1, PulseSteps{1, 2});
    QCOMPARE(runSqlite(path, "SELECT client, frame, outcome FROM journal;"),
             QStringLiteral("a|01001002|lost"));
    record.frameSettled(first, "OK\r\n", FrameOutcome::Ok);
    record.frameSettled(record.frameSent("b", "SAV", 0, std::nullopt), {}, FrameOutcome::NoReply);
    const qint64 refused = record.frameSent("c", "01003004", 1, PulseSteps{3, 4});
    record.frameSettled(refused, {}, FrameOutcome::NoReply, GeneratorRecord::Finality::Provisional);
    record.frameSettled(refused, "ERR\r\n", FrameOutcome::Refused);
    record.frameSent("d", "02005006", 2, PulseSteps{5, 6}); // unsettled: killed now
    record.flush();
    QCOMPARE(runSqlite(path, "SELECT outcome, reply FROM journal ORDER BY id;"),
             QStringLiteral("ok|OK\\r\\n\nno reply|\nrefused|ERR\\r\\n\nlost|"));

    GeneratorRecord next({true, path, kDefaultJournalLimit});
    next.setGenerator(kGenerator);
    const GeneratorSettings &settings = next.settings();
    QCOMPARE(settings.last[0]->widthSteps, 2); // the refusal never held
    QCOMPARE(settings.saved[0]->widthSteps, 2);
    QCOMPARE(settings.last[1]->widthSteps, 6); // lost: it may hold
    QVERIFY(!settings.saved[1]);
}

QTEST_GUILESS_MAIN(TestRecordStore)
#include "tst_recordstore.moc"

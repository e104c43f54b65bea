#ifndef JOURNALINTAKE_H
#define JOURNALINTAKE_H

// Where a program's journal entries wait before the record takes them in:
// a file beside the record, one per generator, written by one program at a
// time (it holds a lock on it). A frame costs one write() here, where a
// commit to SQLite costs about ten system calls; what write() has handed to
// the system survives the program being killed at any moment. The record
// takes the entries in by the hundred (RecordStore::commit) and the file is
// emptied; a program that finds entries left behind takes them in first.
//
// Each item is whole or missing: an item cut short (a full disk) and
// anything after it are ignored.

#include "common/result.h"
#include "record/journalentry.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <memory>

// One item of the file: a frame sent, or what became of one.
struct IntakeItem
{
    enum Kind : quint8 { Sent = 1, Settled = 2 };
    Kind kind = Sent;
    qint64 ticket = 0; // the program's number for the frame
    JournalEntry entry; // a settled item holds only the reply and the outcome
};

class JournalIntake
{
public:
    // The intake for the record's file and the generator's id: opened,
    // created when missing, and locked; fails when another program holds it.
    static Result<std::unique_ptr<JournalIntake>> open(const QString &recordPath, qint64 generator);
    ~JournalIntake();
    JournalIntake(const JournalIntake &) = delete;
    JournalIntake &operator=(const JournalIntake &) = delete;

    static QByteArray encoded(const IntakeItem &item);
    // Items in one write.
    Result<void> append(const QByteArray &items);
    // What the file holds, in order.
    Result<QList<IntakeItem>> items();
    Result<void> clear();
    bool isEmpty() const;

private:
    explicit JournalIntake(const QString &path);

    QFile file;
};

#endif // JOURNALINTAKE_H

#include "record/journalintake.h"

#include <QtEndian>

#include <cstring>

#include <sys/file.h>

namespace {

// Items are written as they are read back here and nowhere else: numbers
// little-endian, texts as UTF-8 with their length first.
class ItemWriter
{
public:
    explicit ItemWriter(QByteArray &bytes) :
        bytes(bytes)
    {}
    template<typename Number>
    void number(Number value)
    {
        const Number little = qToLittleEndian(value);
        bytes.append(reinterpret_cast<const char *>(&little), sizeof little);
    }
    void text(const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        number(quint32(utf8.size()));
        bytes.append(utf8);
    }

private:
    QByteArray &bytes;
};

class ItemReader
{
public:
    explicit ItemReader(QByteArrayView bytes) :
        bytes(bytes)
    {}
    bool ok() const { return good; }
    qsizetype position() const { return at; }
    template<typename Number>
    Number number()
    {
        Number little{};
        if (!take(sizeof little))
            return {};
        std::memcpy(&little, bytes.data() + at - qsizetype(sizeof little), sizeof little);
        return qFromLittleEndian(little);
    }
    QString text()
    {
        const auto size = number<quint32>();
        if (!take(size))
            return {};
        return QString::fromUtf8(bytes.sliced(at - qsizetype(size), qsizetype(size)));
    }
    QByteArrayView raw(qsizetype size)
    {
        return take(size) ? bytes.sliced(at - size, size) : QByteArrayView();
    }

private:
    bool take(qsizetype size)
    {
        good = good && size <= bytes.size() - at;
        if (good)
            at += size;
        return good;
    }

    QByteArrayView bytes;
    qsizetype at = 0;
    bool good = true;
};

void writePayload(ItemWriter &out, const IntakeItem &item)
{
    const JournalEntry &entry = item.entry;
    out.number(quint8(item.kind));
    out.number(item.ticket);
    if (item.kind == IntakeItem::Sent) {
        out.number(entry.timeMs);
        out.text(entry.program);
        out.text(entry.client);
        out.number(qint32(entry.channel));
        out.number(quint8(entry.steps.has_value()));
        out.number(qint32(entry.steps ? entry.steps->delaySteps : 0));
        out.number(qint32(entry.steps ? entry.steps->widthSteps : 0));
        out.text(entry.frame);
    }
    out.text(entry.reply);
    out.number(quint8(entry.outcome));
}

std::optional<IntakeItem> itemOf(QByteArrayView payload)
{
    ItemReader in(payload);
    IntakeItem item;
    JournalEntry &entry = item.entry;
    const auto kind = in.number<quint8>();
    item.ticket = in.number<qint64>();
    if (kind != IntakeItem::Sent && kind != IntakeItem::Settled)
        return std::nullopt;
    item.kind = IntakeItem::Kind(kind);
    if (item.kind == IntakeItem::Sent) {
        entry.timeMs = in.number<qint64>();
        entry.program = in.text();
        entry.client = in.text();
        entry.channel = in.number<qint32>();
        const bool hasSteps = in.number<quint8>() != 0;
        const auto delay = in.number<qint32>();
        const auto width = in.number<qint32>();
        if (hasSteps)
            entry.steps = PulseSteps{delay, width};
        entry.frame = in.text();
    }
    entry.reply = in.text();
    const auto outcome = in.number<quint8>();
    if (!in.ok() || in.position() != payload.size() || outcome > quint8(FrameOutcome::Lost))
        return std::nullopt;
    entry.outcome = FrameOutcome(outcome);
    return item;
}

} // namespace

JournalIntake::JournalIntake(const QString &path) :
    file(path)
{}

JournalIntake::~JournalIntake() = default;

Result<std::unique_ptr<JournalIntake>> JournalIntake::open(const QString &recordPath,
                                                           qint64 generator)
{
    std::unique_ptr<JournalIntake> intake(
            new JournalIntake(QStringLiteral("%1.intake-%2").arg(recordPath).arg(generator)));
    QFile &file = intake->file;
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return Failure{QStringLiteral("cannot open %1: %2").arg(file.fileName(), file.errorString())};
    // Released with the file, also when the program is killed.
    if (::flock(file.handle(), LOCK_EX | LOCK_NB) != 0)
        return Failure{QStringLiteral("%1 is in use by another program").arg(file.fileName())};
    return intake;
}

// Its size, the item, and its checksum, so that an item cut short or
// damaged is never taken for one.
QByteArray JournalIntake::encoded(const IntakeItem &item)
{
    QByteArray bytes;
    bytes.reserve(128);
    ItemWriter out(bytes);
    out.number(quint32(0));
    writePayload(out, item);
    const QByteArrayView payload = QByteArrayView(bytes).sliced(sizeof(quint32));
    const quint32 size = qToLittleEndian(quint32(payload.size()));
    std::memcpy(bytes.data(), &size, sizeof size);
    out.number(qChecksum(payload));
    return bytes;
}

Result<void> JournalIntake::append(const QByteArray &items)
{
    if (file.write(items) != items.size())
        return Failure{QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString())};
    return {};
}

Result<QList<IntakeItem>> JournalIntake::items()
{
    if (!file.seek(0))
        return Failure{QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString())};
    const QByteArray bytes = file.readAll();
    QList<IntakeItem> found;
    ItemReader in(bytes);
    while (in.position() < bytes.size()) {
        const auto size = in.number<quint32>();
        const QByteArrayView payload = in.raw(qsizetype(size));
        const auto checksum = in.number<quint16>();
        if (!in.ok() || checksum != qChecksum(payload))
            break;
        const std::optional<IntakeItem> item = itemOf(payload);
        if (!item)
            break;
        found.append(*item);
    }
    return found;
}

Result<void> JournalIntake::clear()
{
    if (!file.resize(0))
        return Failure{QStringLiteral("cannot empty %1: %2").arg(file.fileName(), file.errorString())};
    return {};
}

bool JournalIntake::isEmpty() const
{
    return file.size() == 0;
}

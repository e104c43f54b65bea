#include "record/sqlitestatement.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

SqliteStatement::SqliteStatement(const QSqlDatabase &database, const char *statement) :
    text(statement)
{
    const QVariant handle = database.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") == 0)
        connection = *static_cast<sqlite3 *const *>(handle.constData());
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(prepared);
}

Result<qint64> SqliteStatement::run(const std::vector<Value> &values)
{
    const auto failed = [this](const char *what) {
        return Failure{QStringLiteral("%1: %2").arg(
                QLatin1String(what),
                connection ? QString::fromUtf8(sqlite3_errmsg(connection)) : QString())};
    };
    if (connection == nullptr)
        return failed("not an open SQLite connection");
    if (prepared == nullptr
        && sqlite3_prepare_v3(connection, text, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr)
                   != SQLITE_OK)
        return failed("cannot prepare a statement");
    bool bound = true;
    for (size_t index = 0; index < values.size() && bound; ++index) {
        const int position = int(index + 1);
        const Value &value = values[index];
        if (const auto *number = std::get_if<qint64>(&value))
            bound = sqlite3_bind_int64(prepared, position, *number) == SQLITE_OK;
        else if (const auto *utf8 = std::get_if<QByteArray>(&value))
            bound = sqlite3_bind_text(prepared, position, utf8->constData(), int(utf8->size()),
                                      SQLITE_STATIC)
                    == SQLITE_OK;
        else
            bound = sqlite3_bind_null(prepared, position) == SQLITE_OK;
    }
    const bool done = bound && sqlite3_step(prepared) == SQLITE_DONE;
    sqlite3_reset(prepared);
    sqlite3_clear_bindings(prepared);
    if (!done)
        return failed("cannot write");
    return sqlite3_last_insert_rowid(connection);
}

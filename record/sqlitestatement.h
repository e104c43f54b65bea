#ifndef SQLITESTATEMENT_H
#define SQLITESTATEMENT_H

#include "common/result.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A statement that runs for every frame, prepared once straight on SQLite
// under Qt SQL's connection (QSqlDriver::handle()): Qt's binding of its
// values costs as much as SQLite's own work. Qt SQL opens, owns and closes
// the connection; every value is still a bound parameter.
class SqliteStatement
{
public:
    using Value = std::variant<std::monostate, qint64, QByteArray>; // NULL, integer, UTF-8 text

    SqliteStatement(const QSqlDatabase &database, const char *statement);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // Runs it with the values bound in order; the id of the row it added.
    Result<qint64> run(const std::vector<Value> &values);

private:
    sqlite3 *connection = nullptr;
    sqlite3_stmt *prepared = nullptr;
    const char *text;
};

#endif // SQLITESTATEMENT_H

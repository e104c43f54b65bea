#ifndef RESULT_H
#define RESULT_H

#include <QString>

#include <optional>
#include <utility>

// What went wrong, in words for the user; converts to any failed Result.
struct Failure
{
    QString error;
};

// A value, or the reason there is none. The one way the core code reports
// errors: a caller cannot drop one unnoticed.
template<typename T>
class [[nodiscard]] Result
{
public:
    Result(T value) :
        stored(std::move(value))
    {}
    Result(Failure failure) :
        reason(std::move(failure.error))
    {}

    bool ok() const { return stored.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *stored; }
    T &value() { return *stored; }
    const T *operator->() const { return &*stored; }
    T *operator->() { return &*stored; }
    const QString &error() const { return reason; }

private:
    std::optional<T> stored;
    QString reason;
};

// Success with nothing to hand back, or the reason for failing.
template<>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure) :
        reason(std::move(failure.error)),
        failed(true)
    {}

    bool ok() const { return !failed; }
    explicit operator bool() const { return ok(); }
    const QString &error() const { return reason; }

private:
    QString reason;
    bool failed = false;
};

#endif // RESULT_H

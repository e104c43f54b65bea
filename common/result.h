#ifndef RESULT_H
#define RESULT_H

#include <QString>

#include <optional>
#include <utility>

// What went wrong: by default in words for the user. Converts to any failed
// Result with the same kind of error.
template<typename E = QString>
struct Failure
{
    E error;
};
template<typename E>
Failure(E) -> Failure<E>;

// A value, or the reason there is none. The one way the core code reports
// errors: a caller cannot drop one unnoticed.
template<typename T, typename E = QString>
class [[nodiscard]] Result
{
public:
    Result(T value) :
        stored(std::move(value))
    {}
    Result(Failure<E> failure) :
        reason(std::move(failure.error))
    {}

    bool ok() const { return stored.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *stored; }
    T &value() { return *stored; }
    const T *operator->() const { return &*stored; }
    T *operator->() { return &*stored; }
    // Only meaningful when the result failed.
    const E &error() const { return reason; }

private:
    std::optional<T> stored;
    E reason{};
};

// Success with nothing to hand back, or the reason for failing.
template<typename E>
class [[nodiscard]] Result<void, E>
{
public:
    Result() = default;
    Result(Failure<E> failure) :
        reason(std::move(failure.error)),
        failed(true)
    {}

    bool ok() const { return !failed; }
    explicit operator bool() const { return ok(); }
    const E &error() const { return reason; }

private:
    E reason{};
    bool failed = false;
};

#endif // RESULT_H

#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace archivon {

/// The value of an operation that can fail, or the reason it failed.
/// Callers must look at it: there are no exceptions in the file services.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString reason)
    {
        Result r;
        r.m_error = std::move(reason);
        return r;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *m_value; }
    const T& operator*() const { return *m_value; }
    T valueOr(T fallback) const { return m_value ? *m_value : fallback; }
    const QString& error() const { return m_error; }

private:
    Result() = default;
    std::optional<T> m_value;
    QString m_error;
};

/// Success or the reason of a failure, for operations without a value.
class [[nodiscard]] Status
{
public:
    Status() = default;
    static Status failure(QString reason)
    {
        Status s;
        s.m_failed = true;
        s.m_error = std::move(reason);
        return s;
    }
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};

} // namespace archivon

#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace archivon {

/// What kind of failure a Status or a Result holds. Code that decides by a
/// failure looks at this; the text is only for the user to read.
enum class ErrorKind {
    None,        ///< no failure
    NoSpace,     ///< the disk, or the quota, is full
    NotFound,    ///< no such file or folder: gone, or never there
    NoAccess,    ///< access denied, or a disk protected from writing
    NameRefused, ///< a name the file system does not take (too long)
    DriveLost,   ///< the drive is not ready, or the path leads to no drive
    Exists,      ///< the name is taken already
    OtherDisk,   ///< a rename that would cross file systems
    NotEmpty,    ///< a folder that still holds something
    Cancelled,   ///< the work was abandoned: the run was stopped
    Other,
};

/// Success or the reason of a failure, for operations without a value.
class [[nodiscard]] Status
{
public:
    Status() = default;
    /// A failure no code tells apart from others (kind Other).
    static Status failure(QString reason) { return failure(ErrorKind::Other, std::move(reason)); }
    static Status failure(ErrorKind kind, QString reason, int errorNumber = 0)
    {
        Status s;
        s.m_kind = kind == ErrorKind::None ? ErrorKind::Other : kind;
        s.m_errno = errorNumber;
        s.m_error = std::move(reason);
        return s;
    }
    /// The failure a system call reports by \a errorNumber, in the words of
    /// platform::reasonFor().
    static Status fromErrno(int errorNumber);

    bool ok() const { return m_kind == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }
    ErrorKind kind() const { return m_kind; }
    /// The errno the failure came from, or 0.
    int errorNumber() const { return m_errno; }
    /// The same failure, kind and errno, told in \a reason: a longer text
    /// still counts as what it is.
    Status withText(QString reason) const { return failure(m_kind, std::move(reason), m_errno); }

private:
    ErrorKind m_kind = ErrorKind::None;
    int m_errno = 0;
    QString m_error;
};

/// The value of an operation that can fail, or the reason it failed.
/// Callers must look at it: there are no exceptions in the file services.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    /// A failure no code tells apart from others (kind Other).
    static Result failure(QString reason) { return failure(Status::failure(std::move(reason))); }
    /// The failure \a failed, with its kind.
    static Result failure(Status failed)
    {
        Result r;
        r.m_status = failed.ok() ? Status::failure(failed.error()) : std::move(failed);
        return r;
    }
    static Result fromErrno(int errorNumber) { return failure(Status::fromErrno(errorNumber)); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *m_value; }
    const T& operator*() const { return *m_value; }
    T valueOr(T fallback) const { return m_value ? *m_value : fallback; }
    const QString& error() const { return m_status.error(); }
    ErrorKind kind() const { return m_status.kind(); }
    /// Success, or the failure with its kind, for a caller that has no value to give.
    const Status& status() const { return m_status; }

private:
    Result() = default;
    std::optional<T> m_value;
    Status m_status;
};

} // namespace archivon

// How a fallible function of the engine, the controller and qvota says that it failed: it
// returns an Expected<T>, which holds either the value or a Failure. A Failure has a kind, for
// the callers that act on more than the words (a cancel is not a fault of the board, a lost link
// ends every wait at once), and the message that the user reads.
#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace qvota {

// The text of a run that the user ended.
inline const QString CANCELLED = QStringLiteral("cancelled by user");

enum class FailureKind {
    Refused,   // the input, the file or the board said no; the message says why
    Cancelled, // the user asked to stop
    LinkLost,  // the device went away under an open link
};

struct Failure
{
    FailureKind kind = FailureKind::Refused;
    QString message;

    static Failure refused(QString message) { return {FailureKind::Refused, std::move(message)}; }
    static Failure cancelled() { return {FailureKind::Cancelled, CANCELLED}; }
};

// A value, or why there is none. Tested like a pointer: `if (!result) use(result.failure())`.
template<typename T>
class [[nodiscard]] Expected
{
public:
    Expected(T value)
        : m_state(std::move(value))
    {}
    Expected(Failure failure)
        : m_state(std::move(failure))
    {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const T &value() const & { return std::get<T>(m_state); }
    T &&value() && { return std::get<T>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }

    // Only when !ok().
    const Failure &failure() const { return std::get<Failure>(m_state); }
    // Empty when ok().
    QString message() const { return ok() ? QString() : failure().message; }

private:
    std::variant<T, Failure> m_state;
};

// Success without a value, or the failure.
template<>
class [[nodiscard]] Expected<void>
{
public:
    Expected() = default;
    Expected(Failure failure)
        : m_failure(std::move(failure))
    {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    const Failure &failure() const { return *m_failure; }
    QString message() const { return ok() ? QString() : m_failure->message; }

private:
    std::optional<Failure> m_failure;
};

} // namespace qvota

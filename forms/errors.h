#pragma once

#include "forms_export.h"

#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace forms {

// Error numbers the runtime raises. They keep the numbering users of this kind of
// program know from its message boxes.
namespace err {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int CantLoadLibrary = 48;
inline constexpr int ObjectRequired = 424;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int PropertyReadOnly = 383;
inline constexpr int CantSizeMinimized = 384;
inline constexpr int EntryPointNotFound = 453;
inline constexpr int UnexpectedError = 51;
} // namespace err

// An error raised by a window or control operation.
class FORMS_EXPORT RuntimeError : public std::exception
{
public:
    RuntimeError(int number, QString description);
    int number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

[[noreturn]] FORMS_EXPORT void raise(int number, const QString &description);

// Resume-next recovery: a statement that raises is abandoned and execution goes on with
// the next one. The last error stays readable for handlers that test it at the end.
class ResumeNext
{
public:
    template<class F>
    void operator()(F &&statement)
    {
        try {
            std::forward<F>(statement)();
        } catch (const RuntimeError &e) {
            m_error = e.number();
        }
    }

    // A conditional whose test raises goes on with the first statement of its body,
    // so a failed test counts as true.
    template<class F>
    bool test(F &&condition)
    {
        try {
            return std::forward<F>(condition)();
        } catch (const RuntimeError &e) {
            m_error = e.number();
            return true;
        }
    }

    int error() const { return m_error; }
    void clear() { m_error = 0; }

private:
    int m_error = 0;
};

// What happens to an error no handler handled.
using ErrorReporter = std::function<void(const RuntimeError &)>;

// The default: a line on stderr and a (non-modal) message box; the program goes on.
FORMS_EXPORT void defaultErrorReport(const RuntimeError &error);

// The boundary every event handler runs behind: nothing thrown may reach Qt's event loop.
FORMS_EXPORT void runGuarded(const ErrorReporter &report, const std::function<void()> &handler);

} // namespace forms

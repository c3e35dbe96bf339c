#pragma once

#include "forms_export.h"

#include "errors.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <type_traits>

#ifdef Q_OS_WIN
#define USER32_API __stdcall
#else
#define USER32_API
#endif

// The window functions of the user32 library, bound by name on first call. On Windows
// they are the real ones; elsewhere a built-in library gives them the same contract
// over Qt windows.
namespace user32 {

using HWND = void *;
inline constexpr std::int32_t GWL_EXSTYLE = -20;
inline constexpr std::int32_t WS_EX_TOPMOST = 0x00000008;
inline constexpr std::int32_t WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr std::int32_t WS_EX_LAYERED = 0x00080000;
inline constexpr std::uint32_t LWA_ALPHA = 2;
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(std::intptr_t(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(std::intptr_t(-2));
inline constexpr std::uint32_t SWP_NOSIZE = 0x0001;
inline constexpr std::uint32_t SWP_NOMOVE = 0x0002;

using GetWindowLongA_t = std::int32_t(USER32_API *)(HWND, std::int32_t);
using SetWindowLongA_t = std::int32_t(USER32_API *)(HWND, std::int32_t, std::int32_t);
using SetLayeredWindowAttributes_t = std::int32_t(USER32_API *)(HWND, std::uint32_t, std::uint8_t, std::uint32_t);
using SetWindowPos_t
    = std::int32_t(USER32_API *)(HWND, HWND, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::uint32_t);

inline HWND toHandle(quintptr hWnd)
{
    return reinterpret_cast<HWND>(hWnd);
}

// Finds entry points by library and name. One per runtime, so a test can take an entry
// point away and see the bindings made after that fail.
class FORMS_EXPORT Loader
{
public:
    Loader();
    void *resolve(const QString &library, const char *entryPoint) const;
    void removeEntryPoint(const std::string &name) { m_removed.insert(name); }
    void restoreEntryPoint(const std::string &name) { m_removed.erase(name); }

private:
    std::map<std::string, void *> m_builtin;
    std::set<std::string> m_removed;
};

template<class Fn>
class Binding;

// A function declared from a library: resolved on its first call, then reused. It takes
// exactly the declared parameter types, so that a caller converts on purpose (an alpha
// to its byte), never by accident.
template<class R, class... P>
class Binding<R(USER32_API *)(P...)>
{
public:
    using Fn = R(USER32_API *)(P...);

    Binding(const Loader &loader, QString library, const char *entryPoint)
        : m_loader(loader), m_library(std::move(library)), m_entryPoint(entryPoint)
    { }

    template<class... A>
    requires(sizeof...(A) == sizeof...(P) && (std::is_same_v<std::remove_cvref_t<A>, P> && ...)) R operator()(A... args)
    {
        if (!m_fn) {
            m_fn = reinterpret_cast<Fn>(m_loader.resolve(m_library, m_entryPoint));
            if (!m_fn)
                forms::raise(forms::err::EntryPointNotFound, QStringLiteral("Can't find DLL entry point %1 in %2")
                                                                 .arg(QLatin1StringView(m_entryPoint), m_library));
        }
        return m_fn(args...);
    }

private:
    const Loader &m_loader;
    QString m_library;
    const char *m_entryPoint;
    Fn m_fn = nullptr;
};

// Pushes pending window-system requests out now (an opacity change on X11 waits in
// the connection otherwise).
FORMS_EXPORT void flushWindowSystem();

} // namespace user32

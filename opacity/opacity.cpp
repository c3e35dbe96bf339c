#include "opacity.h"

#include "form.h"
#include "runtime.h"

namespace opacity {

LayeredWindowFunctions::LayeredWindowFunctions(const user32::Loader &loader, const QString &library)
    : GetWindowLongA(loader, library, "GetWindowLongA"), SetWindowLongA(loader, library, "SetWindowLongA"),
      SetLayeredWindowAttributes(loader, library, "SetLayeredWindowAttributes")
{ }

void setWindowAlpha(LayeredWindowFunctions &f, forms::Form &window, std::int32_t alpha)
{
    const std::int32_t style = f.GetWindowLongA(user32::toHandle(window.hWnd()), user32::GWL_EXSTYLE);
    f.SetWindowLongA(user32::toHandle(window.hWnd()), user32::GWL_EXSTYLE, style | user32::WS_EX_LAYERED);
    if (alpha < 0 || alpha > 255)
        forms::raise(forms::err::Overflow, QStringLiteral("Overflow"));
    f.SetLayeredWindowAttributes(user32::toHandle(window.hWnd()), std::uint32_t(0), std::uint8_t(alpha),
                                 user32::LWA_ALPHA);
}

std::int32_t applyAlpha(LayeredWindowFunctions &f, quintptr hWnd, std::int16_t alpha) noexcept
{
    forms::ResumeNext onError;
    std::int32_t result;
    if (alpha >= 0 && alpha <= 255) {
        const auto handle = user32::toHandle(hWnd);
        std::int32_t style = 0;
        onError([&] { style = f.GetWindowLongA(handle, user32::GWL_EXSTYLE); });
        style |= user32::WS_EX_LAYERED;
        onError([&] { f.SetWindowLongA(handle, user32::GWL_EXSTYLE, style); });
        onError(
            [&] { f.SetLayeredWindowAttributes(handle, std::uint32_t(0), std::uint8_t(alpha), user32::LWA_ALPHA); });
        result = Applied;
    } else {
        result = OutOfRange;
    }
    if (onError.error() != 0)
        result = Failed;
    return result;
}

} // namespace opacity

mdlmain::mdlmain(forms::Runtime &runtime) : m_functions(runtime.user32(), QStringLiteral("user32.dll")) { }

mdlmain &mdlmain::of(forms::Runtime &runtime)
{
    return runtime.service<mdlmain>([&] { return new mdlmain(runtime); });
}

void mdlmain::SetWindowAlpha(forms::Form &window, std::int32_t alpha)
{
    opacity::setWindowAlpha(m_functions, window, alpha);
}

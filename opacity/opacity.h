#pragma once

// Making a window layered and translucent through the user32 functions, as the fades do.

#include "user32.h"

#include <cstdint>

namespace forms {
class Form;
class Runtime;
} // namespace forms

namespace opacity {

// The three functions that make a window layered and give it one alpha, as declared
// from one library name.
struct LayeredWindowFunctions
{
    LayeredWindowFunctions(const user32::Loader &loader, const QString &library);
    user32::Binding<user32::GetWindowLongA_t> GetWindowLongA;
    user32::Binding<user32::SetWindowLongA_t> SetWindowLongA;
    user32::Binding<user32::SetLayeredWindowAttributes_t> SetLayeredWindowAttributes;
};

// Result codes of applyAlpha.
enum : std::int32_t { Applied = 0, OutOfRange = 1, Failed = 2 };

// Makes the window layered, then applies alpha. Every error reaches the caller: a failed
// binding, and overflow (6) for an alpha outside 0..255, raised once the window is
// already layered and before any alpha is applied.
void setWindowAlpha(LayeredWindowFunctions &f, forms::Form &window, std::int32_t alpha);

// Range-checks alpha first (1, nothing touched), then does the same as setWindowAlpha;
// never raises: a failing call is skipped, the later ones still run, and the result is 2.
std::int32_t applyAlpha(LayeredWindowFunctions &f, quintptr hWnd, std::int16_t alpha) noexcept;

} // namespace opacity

// The program's module of window helpers; its functions are declared from "user32.dll".
class mdlmain
{
public:
    explicit mdlmain(forms::Runtime &runtime);
    static mdlmain &of(forms::Runtime &runtime);

    void SetWindowAlpha(forms::Form &window, std::int32_t alpha);

private:
    opacity::LayeredWindowFunctions m_functions;
};

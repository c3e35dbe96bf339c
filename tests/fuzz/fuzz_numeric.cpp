// The numeric-prefix conversion against the C library's strtod on the same prefix: the
// same value to the last bit, whatever the length of the digits.
#include "fuzzing.h"
#include "numeric.h"

#include <QString>

#include <cmath>
#include <string>

namespace forms {
// numeric.cpp's overflow check raises through the form runtime, which the conversion
// itself never reaches; stopping is enough here.
void raise(int, const QString &)
{
    std::abort();
}
} // namespace forms

namespace {

// The prefix the conversion reads, told apart the plain way: blanks, a sign, then
// digits with at most one point. Empty when there is no digit.
std::string prefix(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    std::string s;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        s += char(text[i++].unicode());
    bool point = false, digit = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9') {
            digit = true;
        } else if (text[i] == u'.' && !point) {
            point = true;
        } else {
            break;
        }
        s += char(text[i].unicode());
    }
    return digit ? s : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const double value = forms::numericPrefixValue(text);
    FUZZ_CHECK(!std::isnan(value));
    const std::string p = prefix(text);
    const double expected = p.empty() ? 0.0 : std::strtod(p.c_str(), nullptr);
    if (value != expected) {
        std::fprintf(stderr, "prefix %.200s...: %.17g, strtod %.17g\n", p.c_str(), value, expected);
        FUZZ_CHECK(value == expected);
    }
    // The sign goes with the number, a zero's too.
    FUZZ_CHECK(std::signbit(value) == std::signbit(expected) || value != 0.0);
    return 0;
}

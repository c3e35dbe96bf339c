#include "numeric.h"

#include "errors.h"

#include <charconv>
#include <limits>
#include <string>

namespace forms {

namespace {
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}
bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
// Past this many significant digits a number only reaches infinity or rounds away;
// stopping keeps megabytes of digits cheap.
constexpr qsizetype MaxDigitsKept = 800;
} // namespace

double numericPrefixValue(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // The significant digits and the power of ten that scales them. Digits past the
    // first MaxDigitsKept only count as a final 1 when any is not zero: enough for the
    // rounding to see that the number lies above a halfway point, never onto it.
    std::string digits;
    bool point = false, anyDigit = false, dropped = false;
    qint64 exponent = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (qsizetype(digits.size()) < MaxDigitsKept) {
                if (!digits.empty() || c != u'0') // zeros before the first other digit are not kept
                    digits.push_back(char(c.unicode()));
                exponent -= point;
            } else {
                dropped = dropped || c != u'0';
                exponent += !point;
            }
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (dropped) {
        digits.push_back('1');
        --exponent;
    }
    double value = 0.0;
    const qint64 magnitude = exponent + qint64(digits.size()); // digits before the point
    if (digits.empty() || magnitude < -400) {
        // zero, or far below the smallest double
    } else if (magnitude > 400) {
        value = std::numeric_limits<double>::infinity();
    } else {
        digits += 'e' + std::to_string(exponent);
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (result.ec == std::errc::result_out_of_range)
            value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

std::int16_t toInt16(int value)
{
    if (value < -32768 || value > 32767)
        raise(err::Overflow, QStringLiteral("Overflow"));
    return std::int16_t(value);
}

} // namespace forms

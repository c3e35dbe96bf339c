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
    std::string digits;
    bool point = false, anyDigit = false;
    qsizetype integerDigits = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (!point && digits.empty() && c == u'0')
                continue; // leading zeros add nothing
            if (!point)
                ++integerDigits;
            if (qsizetype(digits.size()) < MaxDigitsKept)
                digits.push_back(char(c.unicode()));
        } else if (c == u'.' && !point) {
            point = true;
            if (qsizetype(digits.size()) < MaxDigitsKept)
                digits.push_back('.');
        } else {
            break;
        }
    }
    if (!anyDigit)
        return 0.0;
    double value = 0.0;
    if (integerDigits > MaxDigitsKept) {
        value = std::numeric_limits<double>::infinity();
    } else {
        const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (result.ec == std::errc::invalid_argument)
            value = 0.0; // only zeros, or only a point after them
        else if (result.ec == std::errc::result_out_of_range && integerDigits > 0)
            value = std::numeric_limits<double>::infinity();
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

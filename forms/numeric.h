#pragma once

#include "forms_export.h"

#include <QStringView>

#include <cstdint>

namespace forms {

// The runtime's numeric-prefix conversion of a text:
//  - leading blanks (space, tab, CR, LF) are skipped;
//  - then the longest prefix made of an optional sign (+ or -) and ASCII digits with at
//    most one decimal point among them is read as a decimal number;
//  - no such prefix (the empty text, a lone sign or point included) gives 0, and whatever
//    follows the prefix is ignored.
// Finer points, chosen to read plain decimal text only: no radix prefixes ("&H10" is 0),
// no exponents ("5e1" is 5), no blanks between digits ("1 2" is 1), no full-width or
// other non-ASCII digits. Numbers too large for a double give infinity.
FORMS_EXPORT double numericPrefixValue(QStringView text);

// 16-bit signed integer arithmetic with overflow detection: raises overflow (6) for a
// result outside -32768..32767.
FORMS_EXPORT std::int16_t toInt16(int value);

} // namespace forms

#pragma once
// Whole numbers typed into the boxes of the windows and dialogs: the one
// conversion every box uses, with its one error text. Qt Core only; any
// thread.

#include "core/errors.h"

#include <QString>

// Raised by ParseWholeNumber: "'%s' is not a valid integer value".
class ConversionError : public Exception {
public:
    using Exception::Exception;
};

// Optional leading blanks, an
// optional sign, decimal digits or a "$"/"0x" hexadecimal number, and nothing
// after it; the value must fit a signed 32-bit integer.
[[nodiscard]] int ParseWholeNumber(const QString &text);

#pragma once
#include <QString>

// Numbers typed into the dialogs are read with the locale-independent
// conversion (a decimal point, no thousands separators), under which text
// that is not a number reads as 0. Text that a user takes for a number but
// the conversion cannot read ("1,5" with a decimal comma, "1,000", "2e") is
// refused instead, naming the field and the text. A blank field and an
// unfinished sign or point alone ("-", ".") are not refused here: they read
// as 0, as they always have, and the dialogs' own checks deal with them.

// "" when `text` reads as a number (or is blank or has no digit), else the
// message: 'Flight Velocity: "1,5" is not a number. Use a decimal point,
// e.g. 1.5.' (the advice only when the text holds a comma).
QString typed_number_refusal(const QString& fieldName, const QString& text);

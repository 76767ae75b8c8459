#pragma once
#include <QString>
#include <initializer_list>
#include <utility>

class QDoubleValidator;
class QLineEdit;
class QObject;

// The validator of every number field: without range limits, and in the C
// locale whatever the user's, so that a decimal point can always be typed
// and the field holds what the locale-independent conversion reads.
QDoubleValidator* new_number_validator(QObject* parent);

// The refusal of the first enabled field (name, line edit) whose text looks
// like a number but does not read as one (typed_number_refusal); "" when
// none. A disabled field is skipped: its value is not used, and the user
// could not correct it.
QString number_fields_refusal(std::initializer_list<std::pair<QString, const QLineEdit*>> fields);

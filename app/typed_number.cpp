#include "app/typed_number.h"

namespace {

bool has_digit(const QString& text) {
    for (const QChar c : text)
        if (c.isDigit()) return true;
    return false;
}

}  // namespace

QString typed_number_refusal(const QString& fieldName, const QString& text) {
    if (!has_digit(text)) return QString();
    bool ok = false;
    text.toDouble(&ok);
    if (ok) return QString();
    QString message = fieldName + QStringLiteral(": \"") + text + QStringLiteral("\" is not a number.");
    if (text.contains(QLatin1Char(','))) message += QStringLiteral(" Use a decimal point, e.g. 1.5.");
    return message;
}

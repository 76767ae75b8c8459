#include "app/gui/number_field.h"

#include "app/typed_number.h"

#include <QDoubleValidator>
#include <QLineEdit>
#include <QLocale>

QDoubleValidator* new_number_validator(QObject* parent) {
    auto* validator = new QDoubleValidator(parent);
    validator->setLocale(QLocale::c());
    return validator;
}

QString number_fields_refusal(std::initializer_list<std::pair<QString, const QLineEdit*>> fields) {
    for (const auto& [name, edit] : fields) {
        if (!edit->isEnabled()) continue;
        const QString refusal = typed_number_refusal(name, edit->text());
        if (!refusal.isEmpty()) return refusal;
    }
    return QString();
}

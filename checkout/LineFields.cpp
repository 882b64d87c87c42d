#include "LineFields.h"

#include "LineCodes.h"
#include "LinkWords.h"

#include <QComboBox>
#include <QFormLayout>
#include <QSpinBox>

namespace LineFields {
namespace {

QSpinBox *addSpin(QFormLayout *form, const QString &label, const char *objectName, int last) {
    auto *box = new QSpinBox;
    box->setObjectName(QLatin1String(objectName));
    box->setAccessibleName(label);
    box->setRange(1, last);
    form->addRow(label, box);
    return box;
}

QComboBox *addCombo(QFormLayout *form, const QString &label, const char *objectName, int codes,
                    QString (*word)(int32_t)) {
    auto *box = new QComboBox;
    box->setObjectName(QLatin1String(objectName));
    box->setAccessibleName(label);
    for (int32_t code = 0; code < codes; ++code)
        box->addItem(word(code));
    form->addRow(label, box);
    return box;
}

} // namespace

QSpinBox *addPort(QFormLayout *form, const char *objectName) {
    return addSpin(form, QStringLiteral("端口"), objectName, 19);
}

QSpinBox *addStation(QFormLayout *form, const char *objectName) {
    return addSpin(form, QStringLiteral("站号"), objectName, 16);
}

QComboBox *addBaud(QFormLayout *form, const char *objectName) {
    QComboBox *box =
        addCombo(form, QStringLiteral("波特率"), objectName, modbus485::BaudCodes, LinkWords::baudText);
    box->setCurrentIndex(1);
    return box;
}

QComboBox *addParity(QFormLayout *form, const char *objectName) {
    return addCombo(form, QStringLiteral("校验方式"), objectName, modbus485::ParityCodes,
                    LinkWords::parityText);
}

} // namespace LineFields

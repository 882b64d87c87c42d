#pragma once

class QComboBox;
class QFormLayout;
class QSpinBox;

// The line's rows of a 连接 page, each control named for tests and screen readers: the port (1-19), the
// station (1-16), the baud rate (9600 chosen) and the parity, in the panel's words and the library's code
// order, so that a control's index is the code.
namespace LineFields {
QSpinBox *addPort(QFormLayout *form, const char *objectName);
QSpinBox *addStation(QFormLayout *form, const char *objectName);
QComboBox *addBaud(QFormLayout *form, const char *objectName);
QComboBox *addParity(QFormLayout *form, const char *objectName);
} // namespace LineFields

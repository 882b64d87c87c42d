#include "ssqx.h"

void ssqx::connectHandlers() {}

bool ssqx::eventFilter(QObject *watched, QEvent *event) { return QWidget::eventFilter(watched, event); }

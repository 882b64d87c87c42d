#include "CheckoutWizard.h"
#include "FontFallbacks.h"
#include "Modbus485Library.h"
#include "Report.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstring>

// qm4107-checkout: the guided checkout of a module; "report" rebuilds a record's CSV and PDF from its journal
// without a display.
int main(int argc, char *argv[]) {
    if (argc >= 2 && std::strcmp(argv[1], "report") == 0) {
#ifdef Q_OS_LINUX
        // A record is drawn, never shown: no display is needed or used.
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        QGuiApplication app(argc, argv);
        QGuiApplication::setApplicationVersion(QStringLiteral(QM4107_VERSION_TEXT));
        return runReport(QGuiApplication::arguments().mid(2));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm4107-checkout"));
    QApplication::setApplicationVersion(QStringLiteral(QM4107_VERSION_TEXT));
    FontFallbacks::install();
    QApplication::setFont(QFont(QStringLiteral("SimSun"), 10));

    static Modbus485Library link;
    CheckoutWizard wizard(link);
    wizard.show();
    return app.exec();
}

#include "Modbus485Library.h"
#include "ThreadedLink.h"
#include "frmSplash.h"
#include "ssqx.h"

#include <QApplication>
#include <QIcon>

// Start-up: the splash window first; at its hand-over the main window is created on the MODBUS485 library,
// reached through a link thread of its own so that the window never waits on the line, and shown modeless.
// The program reads no command line and keeps no state between runs.
int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm4107-panel"));
    QApplication::setApplicationVersion(QStringLiteral(QM4107_VERSION_TEXT));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/qm4107/qm4107.ico")));

    static Modbus485Library link;
    auto *splash = new frmSplash([] {
        auto *window = new ssqx(std::make_unique<ThreadedLink>(link));
        window->show();
    });
    splash->show();
    return app.exec();
}

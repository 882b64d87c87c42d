#include "Modbus485Library.h"
#include "ThreadedLink.h"
#include "ssqx.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

// Renders the main window to a PNG: as the operator first sees it (after loading, before the port is opened),
// or with --polling after pressing "打开" and letting both polls run a few ticks (MODBUS485_PORT1 names the
// line, usually a qm4107-sim pseudo-terminal).
int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const bool polling = argc == 3 && std::strcmp(argv[2], "--polling") == 0;
    if (argc < 2 || (argc == 3 && !polling) || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [--polling]\n", argv[0]);
        return 2;
    }
    Modbus485Library link;
    ssqx window(std::make_unique<ThreadedLink>(link)); // as the program builds it
    window.show();
    int result = 1;
    if (polling)
        QTimer::singleShot(100, [&] { window.Command9->click(); });
    // Four ticks of both polls, so the counts have moved and every field has been written.
    QTimer::singleShot(polling ? 2300 : 300, [&] {
        result = window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
        QApplication::exit(0);
    });
    app.exec();
    return result;
}

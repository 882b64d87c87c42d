#include "Modbus485Library.h"
#include "ssqx.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

// Renders the main window as the operator first sees it (after loading, before the port is opened) to a PNG.
int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    Modbus485Library link;
    ssqx window(link);
    window.show();
    int result = 1;
    QTimer::singleShot(300, [&] {
        result = window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
        QApplication::exit(0);
    });
    app.exec();
    return result;
}

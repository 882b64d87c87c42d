#include "Modbus485Library.h"
#include "ssqx.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationVersion(QStringLiteral(QM4107_VERSION_TEXT));
    static Modbus485Library link;
    auto *window = new ssqx(link);
    window->show();
    return app.exec();
}

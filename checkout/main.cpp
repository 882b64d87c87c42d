#include "CheckoutWizard.h"
#include "FontFallbacks.h"
#include "Modbus485Library.h"
#include "Report.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const char Usage[] =
    "Usage: qm4107-checkout                 the guided checkout of a QM4107 module (QM4107调试向导)\n"
    "       qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]\n"
    "                                       the record's CSV and PDF rebuilt from its journal;\n"
    "                                       without --csv or --pdf both beside the journal\n"
    "                                       (a cabinet's CABINET_yyyyMMdd-HHmmss.jsonl: the cabinet's\n"
    "                                       CSV and PDF, with the module journals it names)\n"
    "       qm4107-checkout --help | --version\n"
    "Exit codes of report: 0 written, 1 refused or not written, 2 usage.\n";

// The program is a window program on Windows: started from a console it has no standard output of its own
// unless it is redirected, so it writes to the console it was started from.
void useParentConsole() {
#ifdef Q_OS_WIN
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
#endif
}

// The first argument the program does not take, or nullptr. Qt's own options (one dash: -platform offscreen,
// -style fusion, -reverse...) are left to Qt, with the value those that take one are given.
const char *unknownArgument(int argc, char *argv[]) {
    static const char *const withValue[] = {"-platform",        "-platformpluginpath",
                                            "-platformtheme",   "-plugin",
                                            "-qwindowgeometry", "-qwindowicon",
                                            "-qwindowtitle",    "-style",
                                            "-stylesheet",      "-display",
                                            "-geometry",        "-title",
                                            "-session"};
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (a[0] != '-' || a[1] == '-')
            return a;
        for (const char *option : withValue)
            if (std::strcmp(a, option) == 0 && i + 1 < argc)
                ++i;
    }
    return nullptr;
}

} // namespace

// qm4107-checkout: the guided checkout of a module; "report" rebuilds a record's CSV and PDF from its journal
// without a display.
int main(int argc, char *argv[]) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        useParentConsole();
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        useParentConsole();
        std::printf("qm4107-checkout %s\n", QM4107_VERSION_TEXT);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "report") == 0) {
        useParentConsole();
#ifdef Q_OS_LINUX
        // A record is drawn, never shown: no display is needed or used.
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        QGuiApplication app(argc, argv);
        QGuiApplication::setApplicationVersion(QStringLiteral(QM4107_VERSION_TEXT));
        return runReport(QGuiApplication::arguments().mid(2));
    }
    if (const char *unknown = unknownArgument(argc, argv)) {
        useParentConsole();
        std::fprintf(stderr, "qm4107-checkout: unknown argument %s\n%s", unknown, Usage);
        return 2;
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

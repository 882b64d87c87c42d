#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// The typefaces the windows are designed with, and what stands in for them where they are not installed:
// a Song face for SimSun ("宋体") and a Helvetica-like face for Arial. Install before any window is built.
class FontFallbacks {
public:
    static void install() {
        static const bool installed = [] {
            QFont::insertSubstitutions(QStringLiteral("SimSun"),
                                       {QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"),
                                        QStringLiteral("Noto Serif CJK SC")});
            QFont::insertSubstitutions(QStringLiteral("宋体"),
                                       {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                        QStringLiteral("Noto Serif CJK SC")});
            QFont::insertSubstitutions(QStringLiteral("Arial"),
                                       {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
            return true;
        }();
        (void)installed;
    }
};

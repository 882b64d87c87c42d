// Fuzz entry point for the text-to-number rule: any text a user can type must give a number or an
// OverflowError, never a crash, a NaN or a rounding outside half a unit.
#include "RuntimeError.h"
#include "TextToNumber.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void checkText(const QString &text) {
    const double number = TextToNumber::leadingNumber(text);
    check(!std::isnan(number));

    try {
        const int32_t rounded = TextToNumber::toInt32(number);
        check(std::fabs(static_cast<double>(rounded) - number) <= 0.5);
    } catch (const OverflowError &) {
        check(!(number >= -2147483648.0 && number <= 2147483647.0));
    }

    // Blanks, tabs and line feeds never change the number, wherever they stand.
    QString compact = text;
    compact.remove(u' ').remove(u'\t').remove(u'\n');
    check(sameNumber(TextToNumber::leadingNumber(compact), number));
    QString spread;
    for (const QChar c : text) {
        spread.append(c);
        spread.append(u' ');
    }
    check(sameNumber(TextToNumber::leadingNumber(spread), number));

    // Reading stops at the first other character.
    check(sameNumber(TextToNumber::leadingNumber(text + QStringLiteral("x9")), number));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto *bytes = reinterpret_cast<const char *>(data);
    checkText(QString::fromUtf8(bytes, static_cast<qsizetype>(size)));
    checkText(QString::fromLatin1(bytes, static_cast<qsizetype>(size)));
    return 0;
}

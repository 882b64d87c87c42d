#pragma once

#include <QString>

#include <cstdint>

// How the window takes a number from the text of a combo box or text box.
class TextToNumber {
public:
    // The longest number at the start of the text. Blanks, tabs and line feeds are skipped wherever they
    // stand ("1 2" is 12); then an optional sign, digits, a decimal point and an exponent, or "&H"/"&O"
    // followed by hexadecimal/octal digits. Reading stops at the first other character; no number gives 0.
    // A number too large for a double gives an infinity, which toInt32 refuses.
    static double leadingNumber(const QString &text);

    // Rounds to the nearest signed 32-bit integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
    // Raises OverflowError outside the 32-bit range, so the caller's target keeps its value.
    static int32_t toInt32(double number);

    // Both steps in one: the number typed into a control, as a 32-bit integer.
    static int32_t toInt32(const QString &text) { return toInt32(leadingNumber(text)); }
};

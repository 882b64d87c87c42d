#include "TextToNumber.h"

#include "RuntimeError.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isSkipped(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Value of a hexadecimal or octal digit, or -1.
int digitValue(char16_t c, int base) {
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'a' && c <= u'f')
        value = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        value = c - u'A' + 10;
    return value < base ? value : -1;
}

// Decimal text (sign, digits, point, exponent) that from_chars reported out of range: decide between
// an infinity and zero from the position of its first significant digit.
double outOfRange(const std::string &text, bool negative) {
    long long order = 0; // power of ten of the first significant digit
    bool found = false;
    long long digitsBeforePoint = 0;
    long long zerosAfterPoint = 0;
    bool afterPoint = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        const char c = text[i];
        if (c == '.') {
            afterPoint = true;
        } else if (!found && c == '0') {
            if (afterPoint)
                ++zerosAfterPoint;
        } else if (!found) {
            found = true;
            if (afterPoint)
                order = -(zerosAfterPoint + 1);
            digitsBeforePoint = afterPoint ? 0 : 1;
        } else if (!afterPoint) {
            ++digitsBeforePoint;
        }
    }
    if (!found)
        return negative ? -0.0 : 0.0;
    if (digitsBeforePoint > 0)
        order = digitsBeforePoint - 1;
    long long exponent = 0;
    if (i < text.size()) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        for (; i < text.size(); ++i)
            exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000'000LL);
        if (negativeExponent)
            exponent = -exponent;
    }
    const double magnitude = order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

double prefixedNumber(const QString &s, qsizetype i, int base) {
    double value = 0;
    for (; i < s.size(); ++i) {
        const int digit = digitValue(s[i].unicode(), base);
        if (digit < 0)
            break;
        value = value * base + digit;
    }
    return value;
}

} // namespace

double TextToNumber::leadingNumber(const QString &text) {
    QString s;
    s.reserve(text.size());
    for (const QChar c : text)
        if (!isSkipped(c))
            s.append(c);

    if (s.size() >= 2 && s[0] == u'&') {
        const char16_t kind = s[1].unicode();
        if (kind == u'H' || kind == u'h')
            return prefixedNumber(s, 2, 16);
        if (kind == u'O' || kind == u'o')
            return prefixedNumber(s, 2, 8);
        return 0;
    }

    // Collect the longest decimal number as ASCII text, then let from_chars (locale-independent) convert it.
    std::string number;
    qsizetype i = 0;
    const auto at = [&](qsizetype k) -> char16_t { return k < s.size() ? s[k].unicode() : u'\0'; };
    if (at(i) == u'+' || at(i) == u'-')
        number += static_cast<char>(at(i++));
    bool digits = false;
    while (isDigit(at(i))) {
        number += static_cast<char>(at(i++));
        digits = true;
    }
    if (at(i) == u'.') {
        number += '.';
        ++i;
        while (isDigit(at(i))) {
            number += static_cast<char>(at(i++));
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (at(i) == u'e' || at(i) == u'E') {
        qsizetype k = i + 1;
        std::string exponent = "e";
        if (at(k) == u'+' || at(k) == u'-')
            exponent += static_cast<char>(at(k++));
        if (isDigit(at(k))) {
            while (isDigit(at(k)))
                exponent += static_cast<char>(at(k++));
            number += exponent;
        }
    }

    const bool negative = number[0] == '-';
    const char *first = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    const auto result = std::from_chars(first, number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        return outOfRange(number, negative);
    return value;
}

int32_t TextToNumber::toInt32(double number) {
    if (!std::isfinite(number))
        throw OverflowError("overflow");
    double rounded = std::floor(number);
    const double fraction = number - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0))
        rounded += 1.0;
    if (rounded < -2147483648.0 || rounded > 2147483647.0)
        throw OverflowError("overflow");
    return static_cast<int32_t>(rounded);
}

#include "TextToNumber.h"
#include "RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Example {
    const char *text; // UTF-8
    double number;    // the leading number
    bool overflows;   // rounding to 32 bits raises
    int32_t rounded;
};

const Example examples[] = {
    {"1 ", 1, false, 1},
    {"16 ", 16, false, 16},
    {"19 ", 19, false, 19},
    {"1:硬件清零 ", 1, false, 1},
    {"0:软件清零 ", 0, false, 0},
    {"2:偶校验 ", 2, false, 2},
    {"2.5", 2.5, false, 2},
    {"3.5", 3.5, false, 4},
    {"-2.5", -2.5, false, -2},
    {"-3.5", -3.5, false, -4},
    {"0.5", 0.5, false, 0},
    {"1.5", 1.5, false, 2},
    {"2.4999", 2.4999, false, 2},
    {"65534.6", 65534.6, false, 65535},
    {"65535.4", 65535.4, false, 65535},
    {"12abc", 12, false, 12},
    {"abc12", 0, false, 0},
    {"", 0, false, 0},
    {" ", 0, false, 0},
    {"-", 0, false, 0},
    {".", 0, false, 0},
    {"+8", 8, false, 8},
    {"-7", -7, false, -7},
    {".5", 0.5, false, 0},
    {"-.75", -0.75, false, -1},
    {"5.", 5, false, 5},
    {"1 2 3", 123, false, 123},
    {" \t1\n6 ", 16, false, 16},
    {"- 4 2", -42, false, -42},
    {"1\r2", 1, false, 1},
    {"1e3", 1000, false, 1000},
    {"1E3", 1000, false, 1000},
    {"2.5e1", 25, false, 25},
    {"15e-1", 1.5, false, 2},
    {"1e+2", 100, false, 100},
    {"1 e 2", 100, false, 100},
    {"1e", 1, false, 1},
    {"1e+", 1, false, 1},
    {"1ex", 1, false, 1},
    {"1.2.3", 1.2, false, 1},
    {"--5", 0, false, 0},
    {"&H1F", 31, false, 31},
    {"&h1f", 31, false, 31},
    {"& H 1 F", 31, false, 31},
    {"&HFFFF", 65535, false, 65535},
    {"&H7FFFFFFF", 2147483647, false, 2147483647},
    {"&H80000000", 2147483648.0, true, 0},
    {"&H1G", 1, false, 1},
    {"&H", 0, false, 0},
    {"&O17", 15, false, 15},
    {"&o778", 63, false, 63},
    {"&X12", 0, false, 0},
    {"&", 0, false, 0},
    {"2147483647", 2147483647, false, 2147483647},
    {"2147483647.4", 2147483647.4, false, 2147483647},
    {"2147483647.5", 2147483647.5, true, 0},
    {"2147483648", 2147483648.0, true, 0},
    {"-2147483648", -2147483648.0, false, std::numeric_limits<int32_t>::min()},
    {"-2147483648.5", -2147483648.5, false, std::numeric_limits<int32_t>::min()},
    {"-2147483649", -2147483649.0, true, 0},
    {"1e30", 1e30, true, 0},
    {"-1e30", -1e30, true, 0},
    {"1e-400", 0, false, 0},
    {"１２", 0, false, 0}, // full-width digits are not digits
    {"٣", 0, false, 0},
};

TEST(TextToNumber, Examples) {
    for (const Example &example : examples) {
        const QString text = QString::fromUtf8(example.text);
        SCOPED_TRACE(example.text);
        EXPECT_DOUBLE_EQ(TextToNumber::leadingNumber(text), example.number);
        if (example.overflows) {
            EXPECT_THROW(TextToNumber::toInt32(text), OverflowError);
        } else {
            EXPECT_EQ(TextToNumber::toInt32(text), example.rounded);
        }
    }
}

TEST(TextToNumber, HugeTexts) {
    const struct {
        QString text;
        double number;
    } cases[] = {
        {QString(10000, u'9'), std::numeric_limits<double>::infinity()},
        {QStringLiteral("-") + QString(10000, u'9'), -std::numeric_limits<double>::infinity()},
        {QStringLiteral("0.") + QString(10000, u'0') + QStringLiteral("1"), 0},
        {QString(10000, u'0') + QStringLiteral("42"), 42},
        {QStringLiteral("1e999999999999999999999"), std::numeric_limits<double>::infinity()},
        {QStringLiteral("&H") + QString(10000, u'F'), std::numeric_limits<double>::infinity()},
        {QString(5000, u' ') + QStringLiteral("7") + QString(5000, u'\t'), 7},
        {QString(10000, u'字'), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.left(20).toStdString());
        EXPECT_EQ(TextToNumber::leadingNumber(c.text), c.number);
    }
    EXPECT_THROW(TextToNumber::toInt32(std::numeric_limits<double>::infinity()), OverflowError);
    EXPECT_THROW(TextToNumber::toInt32(std::numeric_limits<double>::quiet_NaN()), OverflowError);
}

} // namespace

#include "platform/base/Numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

TEST(FormatG, MatchesPrintfInTheCLocale)
{
    const double cases[] = {0.0, -0.0, 1.0, -1.5, 0.1, 123456.0, 1234567.0, 1e-5, 0.0001, 1e100,
                            -2.675, 3.14159265, 100.0, 1e6, 999999.5, 0.000123456789, 65536.0};
    for (double v : cases) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", v);
        EXPECT_EQ(FormatG(v), expected) << v;
    }
}

TEST(FormatG, NonFiniteWritesZero)
{
    EXPECT_EQ(FormatG(std::numeric_limits<double>::quiet_NaN()), "0");
    EXPECT_EQ(FormatG(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(FormatG(-std::numeric_limits<double>::infinity()), "0");
}

TEST(ParseNumbers, AcceptsWholeNumbersOnly)
{
    EXPECT_EQ(ParseFloat("1.5"), 1.5f);
    EXPECT_EQ(ParseFloat(" -2.25 "), -2.25f);
    EXPECT_EQ(ParseFloat("+3"), 3.0f);
    EXPECT_EQ(ParseFloat("1e3"), 1000.0f);
    EXPECT_FALSE(ParseFloat("1,5").has_value());
    EXPECT_FALSE(ParseFloat("").has_value());
    EXPECT_FALSE(ParseFloat("abc").has_value());
    EXPECT_EQ(ParseInt("42"), 42);
    EXPECT_EQ(ParseInt("-7"), -7);
    EXPECT_FALSE(ParseInt("4.2").has_value());
    EXPECT_FALSE(ParseInt("99999999999999999999999").has_value());
}

TEST(ParseNumbers, IgnoresADecimalCommaLocale)
{
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    // Any installed comma locale will do; without one the check still runs in "C".
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name))
            break;
    EXPECT_EQ(ParseFloat("0.5"), 0.5f);
    EXPECT_EQ(FormatG(0.5), "0.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(NextFloat, WalksWhitespaceSeparatedTokens)
{
    std::string_view text = "  1 2.5\n-3\tx 4 ";
    size_t pos = 0;
    float v = 0;
    std::vector<float> got;
    while (NextFloat(text, pos, v))
        got.push_back(v);
    EXPECT_EQ(got, (std::vector<float>{1.0f, 2.5f, -3.0f, 0.0f, 4.0f}));
}

TEST(RoundHalfEven, RoundsHalvesToEven)
{
    struct Case { double in; int out; };
    const Case cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2}, {2.5001, 3},
                          {1e20, std::numeric_limits<int>::max()}, {std::nan(""), 0}};
    for (const Case& c : cases)
        EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
}

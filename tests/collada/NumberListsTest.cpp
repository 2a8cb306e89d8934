#include "collada/Geometry.h"
#include "collada/Nodes.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <limits>

namespace {
struct FloatCase {
    const char* text;
    long long count;
    std::vector<float> expected;
};

TEST(ParseFloatArray, Table)
{
    const FloatCase cases[] = {
        {"1 2 3", 3, {1, 2, 3}},
        {"  1\t-2.5\n3e2\r\n+4 .5 6. ", 6, {1, -2.5f, 300, 4, 0.5f, 6}},
        {"1 2 3 4 5", 3, {1, 2, 3}},               // numbers after count are ignored
        {"1 2", 5, {1, 2}},                         // never more entries than numbers in the text
        {"", 4, {}},
        {"1 2 3", 0, {}},
        {"1 2 3", -3, {}},                          // a negative count is refused
        {"1 2 3", std::numeric_limits<long long>::max(), {1, 2, 3}},
        {"1 x 3 4", 4, {1, 0, 0, 0}},               // stops at the first token that is no number
        {"1,5 2", 2, {0, 0}},                       // a decimal comma is no number
        {"1 nan 2", 3, {1, 0, 0}},                  // nor is a non-finite value
        {"1 inf 2", 3, {1, 0, 0}},
        {"1e39 2", 2, {0, 0}},                      // beyond float
        {"1e-50 2", 2, {0, 2}},                     // below float: 0
        {"-0 0.1", 2, {-0.0f, 0.1f}},
    };
    for (const auto& c : cases) {
        std::vector<float> array = {9, 9, 9, 9, 9, 9, 9, 9};   // earlier content is replaced
        ParseFloatArray(array, c.text, c.count);
        EXPECT_EQ(array, c.expected) << '"' << c.text << "\" count " << c.count;
    }
}

struct IntCase {
    const char* text;
    long long count;
    std::vector<int> expected;
};

TEST(ParseIntArray, Table)
{
    const IntCase cases[] = {
        {"0 1 2", 3, {0, 1, 2}},
        {"0 -1 +2", 3, {0, -1, 2}},
        {"3 4 5 6", 2, {3, 4}},
        {"3 4", 9, {3, 4}},
        {"1 2.0 3", 3, {1, 0, 0}},
        {"1 2147483648 3", 3, {1, 0, 0}},     // beyond 32 bits
        {"2147483647 -2147483648", 2, {2147483647, -2147483647 - 1}},
        {"", 3, {}},
        {"7", -1, {}},
    };
    for (const auto& c : cases) {
        std::vector<int> array = {9, 9, 9};
        ParseIntArray(array, c.text, c.count);
        EXPECT_EQ(array, c.expected) << '"' << c.text << "\" count " << c.count;
    }
}

// A decimal-comma locale compiled for this test (the machine may have none installed).
bool UseDecimalCommaLocale()
{
    struct Folder {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("vultari-locale-" + std::to_string(::getpid()));
        ~Folder()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static Folder folder;
    static const bool ready = [] {
        const auto& dir = folder.path;
        std::filesystem::create_directories(dir);
        std::string command = "localedef -i de_DE -f UTF-8 --no-archive '" + (dir / "de_DE.UTF-8").string() +
                              "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return false;
        ::setenv("LOCPATH", dir.c_str(), 1);
        return true;
    }();
    return ready && std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

TEST(NumberText, IgnoresTheLocale)
{
    if (!UseDecimalCommaLocale())
        GTEST_SKIP() << "no decimal-comma locale can be made here (localedef of the locales package)";
    // The locale is really in force: the C library now reads a comma.
    const bool comma = std::string(std::localeconv()->decimal_point) == "," && std::strtod("1,5", nullptr) == 1.5;
    std::vector<float> array;
    ParseFloatArray(array, "1.5 -0.25 2e-3", 3);
    std::vector<float> comma_array;
    ParseFloatArray(comma_array, "1,5 2", 2);
    TNode node;
    node.translate = {1.5f, -0.25f, 2e-3f};
    std::string xml = node.NodeXml();
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_TRUE(comma);
    EXPECT_EQ(array, (std::vector<float>{1.5f, -0.25f, 2e-3f}));
    EXPECT_EQ(comma_array, (std::vector<float>{0, 0}));
    EXPECT_NE(xml.find("<translate sid=\"translate\">1.5 -0.25 0.002</translate>"), std::string::npos) << xml;
}

TEST(CopyArrays, TargetHoldsTheSourceExactly)
{
    std::vector<float> target = {5, 5, 5, 5};
    CopyFloatArray({1, 2}, target);
    EXPECT_EQ(target, (std::vector<float>{1, 2}));
    std::vector<int> ints = {7};
    CopyIntArray({3, 4, 5}, ints);
    EXPECT_EQ(ints, (std::vector<int>{3, 4, 5}));
}
}

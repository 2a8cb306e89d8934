// Weight maps: the value count comes from the file size, the text gives the values, and the
// fifteen files are read from the program folder in a fixed order.
#include <gtest/gtest.h>

#include <cctype>

#include <string>
#include <vector>

#include "core/Weightmanager.h"
#include "platform/base/Exception.h"
#include "testing/TestHelpers.h"

namespace {

struct ParseCase {
    const char* what;
    std::string text;
    size_t count;
    std::vector<float> expected;
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.what; }

class ParseWeightsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseWeightsTest, FillsExactlyCountValues)
{
    const ParseCase& c = GetParam();
    std::vector<float> target = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};  // earlier content is replaced
    TWeightManager::ParseWeights(target, c.text, c.count);
    ASSERT_EQ(target.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < target.size(); ++i)
        EXPECT_FLOAT_EQ(target[i], c.expected[i]) << c.what << " at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseWeightsTest,
    ::testing::Values(
        ParseCase{"blank-separated", "0.5 1 0", 3, {0.5f, 1.0f, 0.0f}},
        ParseCase{"tabs and line breaks", "\t0.25\r\n-0.75\n\n1e-1 ", 3, {0.25f, -0.75f, 0.1f}},
        ParseCase{"plus sign and exponent", "+2.5E+1 -.5 3.", 3, {25.0f, -0.5f, 3.0f}},
        ParseCase{"numbers after the count are ignored", "1 2 3 4 5", 2, {1.0f, 2.0f}},
        ParseCase{"fewer numbers than the count leave zeros", "7 8", 4, {7.0f, 8.0f, 0.0f, 0.0f}},
        ParseCase{"a token that is not a number stops the parse", "1 x 3", 3, {1.0f, 0.0f, 0.0f}},
        ParseCase{"a number glued to a word stops after the number", "1 2abc 3", 3, {1.0f, 2.0f, 0.0f}},
        ParseCase{"not a number is no weight", "1 nan inf 4", 4, {1.0f, 0.0f, 0.0f, 0.0f}},
        ParseCase{"no text", "", 2, {0.0f, 0.0f}},
        ParseCase{"count 0", "1 2 3", 0, {}}),
                         [](const auto& param) {
                             std::string n;
                             for (char c : std::string(param.param.what))
                                 n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n + "_" + std::to_string(param.index);
                         });

// The count is the file size div 8, whatever the text holds.
struct SizeCase {
    std::string content;
    size_t expectedCount;
};
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.content.size() << " bytes"; }

class LoadWeightsSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(LoadWeightsSizeTest, CountIsFileSizeDiv8)
{
    ScopedProgramFolder folder("wgh-size");
    folder.WriteFile("map.wgh", GetParam().content);
    std::vector<float> target;
    TWeightManager::LoadWeights(target, folder.Folder() + "map.wgh");
    EXPECT_EQ(target.size(), GetParam().expectedCount) << GetParam().content.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Table, LoadWeightsSizeTest,
                         ::testing::Values(SizeCase{"", 0}, SizeCase{"1 2 3 4", 0},          // 7 bytes
                                           SizeCase{"0.000001", 1},                          // 8 bytes
                                           SizeCase{"1 2 3 4 5 6 7 8", 1},                   // 15 bytes
                                           SizeCase{"1       2       ", 2},                  // 16 bytes
                                           SizeCase{std::string(100, ' '), 12}),
                         [](const auto& param) { return "Bytes" + std::to_string(param.param.content.size()); });            // 100 bytes

TEST(LoadWeights, ValuesPaddedToEightBytesReadBack)
{
    ScopedProgramFolder folder("wgh-values");
    folder.WriteFile("map.wgh", "0.125   1       0       -0.5    ");  // 32 bytes, 4 values
    std::vector<float> target;
    TWeightManager::LoadWeights(target, folder.Folder() + "map.wgh");
    EXPECT_EQ(target, (std::vector<float>{0.125f, 1.0f, 0.0f, -0.5f}));
}

TEST(LoadWeights, TextEndsAtItsFirstZeroByte)
{
    ScopedProgramFolder folder("wgh-zero");
    folder.WriteFile("map.wgh", std::string("1 2 3   ") + std::string(1, '\0') + std::string("4 5 6 7"));  // 16 bytes
    std::vector<float> target;
    TWeightManager::LoadWeights(target, folder.Folder() + "map.wgh");
    EXPECT_EQ(target, (std::vector<float>{1.0f, 2.0f}));
}

TEST(LoadWeights, MissingFileThrowsNamingIt)
{
    ScopedProgramFolder folder("wgh-missing");
    std::vector<float> target = {1.0f};
    try {
        TWeightManager::LoadWeights(target, folder.Folder() + "nothing.wgh");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("nothing.wgh"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(target, std::vector<float>{1.0f});  // untouched
}

// Writes the fifteen maps; slot s holds s + 1 values, each equal to s.
void WriteAllMaps(const ScopedProgramFolder& folder, int skipSlotA = -1, int skipSlotB = -1)
{
    for (int slot = 0; slot < TWeightManager::SlotCount; ++slot) {
        if (slot == skipSlotA || slot == skipSlotB)
            continue;
        std::string text;
        for (int i = 0; i <= slot; ++i) {
            std::string value = std::to_string(slot);
            value.resize(8, ' ');
            text += value;
        }
        folder.WriteFile(std::string("data/weights/") + TWeightManager::SlotName(slot) + ".wgh", text);
    }
}

TEST(WeightManager, ReadsEverySlotFromItsOwnFile)
{
    ScopedProgramFolder folder("wgh-all");
    WriteAllMaps(folder);
    TWeightManager manager;
    for (int slot = 0; slot < TWeightManager::SlotCount; ++slot) {
        ASSERT_EQ(manager.weights[slot].size(), static_cast<size_t>(slot + 1)) << TWeightManager::SlotName(slot);
        for (float w : manager.weights[slot])
            EXPECT_EQ(w, static_cast<float>(slot)) << TWeightManager::SlotName(slot);
    }
}

TEST(WeightManager, SlotNamesAndLoadOrder)
{
    const char* names[] = {"tip_of_the_nose", "head_bottom", "left_eye", "left_eye_borders", "right_eye",
                           "right_eye_borders", "nose", "nose_borders", "mouth", "mouth_borders", "left_ear",
                           "left_ear_borders", "right_ear", "right_ear_borders", "face_borders"};
    for (int slot = 0; slot < TWeightManager::SlotCount; ++slot)
        EXPECT_STREQ(TWeightManager::SlotName(slot), names[slot]);
    const std::vector<int> order(TWeightManager::LoadOrder, TWeightManager::LoadOrder + TWeightManager::SlotCount);
    EXPECT_EQ(order, (std::vector<int>{2, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

// Which file the failure names shows the order in which the files are read.
struct MissingCase {
    int missingA, missingB;
    const char* named;
};
void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.named; }

class WeightManagerMissingTest : public ::testing::TestWithParam<MissingCase> {};

TEST_P(WeightManagerMissingTest, FailsAtTheFirstMissingFileInLoadOrder)
{
    ScopedProgramFolder folder("wgh-order");
    WriteAllMaps(folder, GetParam().missingA, GetParam().missingB);
    try {
        TWeightManager manager;
        FAIL() << "no exception";
    } catch (const Exception& e) {
        const std::string expectedPath = folder.Folder() + "./data/weights/" + GetParam().named + ".wgh";
        EXPECT_NE(e.Message().find("\"" + expectedPath + "\""), std::string::npos) << e.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, WeightManagerMissingTest,
                         ::testing::Values(MissingCase{2, 0, "left_eye"},         // left_eye comes first
                                           MissingCase{0, 1, "tip_of_the_nose"},  // then 0, then 1
                                           MissingCase{1, 3, "head_bottom"},
                                           MissingCase{14, -1, "face_borders"},   // last of all
                                           MissingCase{13, 14, "right_ear_borders"}),
                         [](const auto& param) {
                             std::string n;
                             for (char c : std::string(param.param.named))
                                 n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n + "_" + std::to_string(param.index);
                         });

}  // namespace

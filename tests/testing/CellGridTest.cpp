#include "testing/CellGrid.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace {

using P = std::array<double, 3>;

double Distance(const P& a, const P& b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// Distance from p to the segment a-b.
double ToSegment(const P& p, const P& a, const P& b)
{
    P ab{}, ap{};
    double len = 0, t = 0;
    for (int i = 0; i < 3; ++i) {
        ab[i] = b[i] - a[i];
        ap[i] = p[i] - a[i];
        len += ab[i] * ab[i];
        t += ab[i] * ap[i];
    }
    t = len > 0 ? std::clamp(t / len, 0.0, 1.0) : 0.0;
    return Distance(p, {a[0] + t * ab[0], a[1] + t * ab[1], a[2] + t * ab[2]});
}

struct Case {
    const char* name;
    double cell;        // grid cell against the items' spread of 10
    double segment;     // segment length; 0 for points
    double queryReach;  // queries up to this far outside the items' cube
};

class CellGridCase : public testing::TestWithParam<Case> {};

// Every query finds the same nearest item as a scan of all of them.
TEST_P(CellGridCase, FindsWhatAFullScanFinds)
{
    const Case& c = GetParam();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> inside(0.0, 10.0), step(-c.segment, c.segment),
        query(-c.queryReach, 10.0 + c.queryReach);
    std::vector<std::pair<P, P>> items;
    TCellGrid<size_t> grid(c.cell, 100000);
    for (size_t n = 0; n < 300; ++n) {
        const P a{inside(random), inside(random), inside(random)};
        const P b{a[0] + step(random), a[1] + step(random), a[2] + step(random)};
        const double lo[3] = {std::min(a[0], b[0]), std::min(a[1], b[1]), std::min(a[2], b[2])};
        const double hi[3] = {std::max(a[0], b[0]), std::max(a[1], b[1]), std::max(a[2], b[2])};
        grid.Add(lo, hi, items.size());
        items.push_back({a, b});
    }
    for (int q = 0; q < 400; ++q) {
        const P p{query(random), query(random), query(random)};
        double best = std::numeric_limits<double>::infinity();
        size_t bestItem = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            const double d = ToSegment(p, items[i].first, items[i].second);
            if (d < best)
                best = d, bestItem = i;
        }
        const auto found = grid.Find(p.data(), [&](size_t i) { return ToSegment(p, items[i].first, items[i].second); });
        ASSERT_NE(found.item, nullptr) << "query " << q;
        EXPECT_EQ(*found.item, bestItem) << "query " << q << " at " << p[0] << " " << p[1] << " " << p[2];
        EXPECT_DOUBLE_EQ(found.distance, best) << "query " << q;
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, CellGridCase,
                         testing::Values(Case{"points_in_fine_cells", 0.3, 0.0, 1.0},
                                         Case{"points_in_coarse_cells", 4.0, 0.0, 1.0},
                                         Case{"points_queried_from_far_outside", 1.0, 0.0, 15.0},
                                         Case{"segments_across_many_cells", 0.25, 3.0, 2.0}),
                         [](const testing::TestParamInfo<Case>& c) { return std::string(c.param.name); });

TEST(CellGrid, FindsNothingInAnEmptyGridOrBeyondItsRings)
{
    TCellGrid<int> empty(1.0, 50);
    const double origin[3] = {0, 0, 0};
    EXPECT_EQ(empty.Find(origin, [](int) { return 0.0; }).item, nullptr);

    TCellGrid<int> grid(1.0, 5);
    const double at[3] = {20.5, 0.5, 0.5};
    grid.Add(at, at, 1);
    EXPECT_EQ(grid.Find(origin, [](int) { return 20.0; }).item, nullptr);
    const double near[3] = {17.5, 0.5, 0.5};
    const auto found = grid.Find(near, [](int) { return 3.0; });
    ASSERT_NE(found.item, nullptr);
    EXPECT_EQ(*found.item, 1);
}

}  // namespace

// The quality benchmark's head measure: nearest points, the landmark similarity, and the whole
// comparison on a head against itself and against moved, scaled and noised copies of it.
#include "testing/HeadMetric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <map>
#include <random>

namespace {

struct NearestCase {
    const char* what;
    cv::Vec3d p, expected;
};

TEST(HeadMetric, NearestPointOnTriangleByRegion)
{
    const cv::Vec3d a(0, 0, 0), b(2, 0, 0), c(0, 2, 0);
    const NearestCase cases[] = {
        {"above the face", {0.5, 0.5, 3}, {0.5, 0.5, 0}},
        {"beyond corner a", {-1, -1, 1}, {0, 0, 0}},
        {"beyond corner b", {3, -0.5, 0}, {2, 0, 0}},
        {"beyond corner c", {-0.2, 3, -1}, {0, 2, 0}},
        {"beside edge ab", {1, -2, 0.5}, {1, 0, 0}},
        {"beside edge ac", {-2, 1, 0}, {0, 1, 0}},
        {"beside edge bc", {2, 2, 1}, {1, 1, 0}},
    };
    for (const NearestCase& t : cases) {
        const cv::Vec3d q = ClosestPointOnTriangle(t.p, a, b, c);
        EXPECT_LT(cv::norm(q - t.expected), 1e-12) << t.what;
    }
    // A triangle squashed to a line still answers with one of its corners.
    const cv::Vec3d q = ClosestPointOnTriangle({5, 1, 0}, a, b, b);
    EXPECT_LT(cv::norm(q - b), 1e-12);
}

// A closed, bumpy test head: a sphere with a nose, in triangles (x, y, z a corner).
HeadSurface Ball(int rings = 40, int segments = 80)
{
    auto point = [](double th, double ph) {
        double r = 3.0 + 0.8 * std::exp(-((th - M_PI / 2) * (th - M_PI / 2) + (ph + M_PI / 2) * (ph + M_PI / 2)) / 0.05) +
                   0.2 * std::sin(3 * ph) * std::sin(th);
        return cv::Vec3d(r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), r * std::cos(th));
    };
    HeadSurface s;
    auto add = [&](const cv::Vec3d& v) {
        for (int k = 0; k < 3; ++k)
            s.positions.push_back(static_cast<float>(v[k]));
    };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            const double t0 = M_PI * i / rings, t1 = M_PI * (i + 1) / rings;
            const double p0 = 2 * M_PI * j / segments - M_PI, p1 = 2 * M_PI * (j + 1) / segments - M_PI;
            add(point(t0, p0)), add(point(t1, p0)), add(point(t1, p1));
            add(point(t0, p0)), add(point(t1, p1)), add(point(t0, p1));
        }
    s.landmarks = {point(M_PI / 2, -M_PI / 2), point(M_PI / 3, -M_PI / 3), point(M_PI / 3, -2 * M_PI / 3),
                   point(2 * M_PI / 3, -M_PI / 2), point(0.8 * M_PI, -M_PI / 2)};
    return s;
}

Similarity Moved()
{
    Similarity s;
    s.scale = 1.7;
    const double a = 0.4;  // about the axis (1, 2, 2) / 3
    const cv::Vec3d k(1 / 3.0, 2 / 3.0, 2 / 3.0);
    const cv::Matx33d K(0, -k[2], k[1], k[2], 0, -k[0], -k[1], k[0], 0);
    s.rotation = cv::Matx33d::eye() + std::sin(a) * K + (1 - std::cos(a)) * K * K;
    s.translation = {4, -2, 7};
    return s;
}

HeadSurface Apply(const HeadSurface& h, const Similarity& s)
{
    HeadSurface out;
    for (size_t i = 0; i + 2 < h.positions.size(); i += 3) {
        const cv::Vec3d p = s(cv::Vec3d(h.positions[i], h.positions[i + 1], h.positions[i + 2]));
        for (int k = 0; k < 3; ++k)
            out.positions.push_back(static_cast<float>(p[k]));
    }
    for (const cv::Vec3d& l : h.landmarks)
        out.landmarks.push_back(s(l));
    return out;
}

TEST(HeadMetric, SimilarityFitRecoversAKnownMove)
{
    const HeadSurface ball = Ball();
    const Similarity known = Moved();
    const Similarity fitted = FitSimilarity(ball.landmarks, Apply(ball, known).landmarks);
    EXPECT_NEAR(fitted.scale, known.scale, 1e-5);
    EXPECT_LT(cv::norm(fitted.rotation - known.rotation), 1e-5);
    EXPECT_LT(cv::norm(fitted.translation - known.translation), 1e-4);
}

TEST(HeadMetric, AHeadAgainstItselfAndAgainstAMovedCopyIsZero)
{
    const HeadSurface ball = Ball();
    HeadError self = CompareHeads(ball, ball, 28.0);
    ASSERT_TRUE(self.valid);
    EXPECT_GT(self.samples, 100);
    EXPECT_LT(self.p95, 1e-4);
    // The result may stand anywhere, turned and at another size: the measure does not see that.
    HeadError moved = CompareHeads(ball, Apply(ball, Moved()), 28.0);
    ASSERT_TRUE(moved.valid);
    EXPECT_LT(moved.p95, 1e-3);
    EXPECT_NEAR(moved.scale, 1 / 1.7, 1e-4);
}

TEST(HeadMetric, ARippleOnAMovedCopyIsMeasuredInMillimetres)
{
    // Every vertex of the copy pushed out or in along its radius by a smooth ripple of `amplitude`
    // units; no turn or shift can take a ripple away, so the error is the ripple's own size.
    for (double amplitude : {0.02, 0.08}) {
        HeadSurface rippled = Ball();
        std::vector<double> expected;
        const cv::Vec3d nose = rippled.landmarks[0];
        std::map<std::array<float, 3>, bool> counted;
        for (size_t i = 0; i + 2 < rippled.positions.size(); i += 3) {
            const std::array<float, 3> key{rippled.positions[i], rippled.positions[i + 1], rippled.positions[i + 2]};
            const cv::Vec3d p(key[0], key[1], key[2]);
            const double r = cv::norm(p);
            const double push = amplitude * std::sin(4 * p[0]) * std::sin(4 * p[2]);
            if (cv::norm(p - nose) <= 95.0 / 28.0 && counted.emplace(key, true).second)
                expected.push_back(std::abs(push) * 28.0);
            for (int k = 0; k < 3; ++k)
                rippled.positions[i + k] = static_cast<float>(key[k] * (1 + push / r));
        }
        std::nth_element(expected.begin(), expected.begin() + long(expected.size() / 2), expected.end());
        const double median = expected[expected.size() / 2];
        HeadError e = CompareHeads(Ball(), Apply(rippled, Moved()), 28.0);
        ASSERT_TRUE(e.valid);
        EXPECT_NEAR(e.median, median, 0.15 * median) << amplitude;
        EXPECT_LT(e.p95, amplitude * 28.0 * 1.05) << amplitude;
    }
}

TEST(HeadMetric, MismatchedInputIsNoMeasure)
{
    HeadSurface ball = Ball(), few = Ball();
    few.landmarks.pop_back();
    EXPECT_FALSE(CompareHeads(ball, few, 28.0).valid);
    EXPECT_FALSE(CompareHeads(ball, HeadSurface{}, 28.0).valid);
    EXPECT_FALSE(CompareHeads(ball, ball, 0.0).valid);
}

} // namespace

#include "collada/Vectors.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
void ExpectVector(Vector3 v, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST(Vector2, ComponentOperations)
{
    Vector2 m = Vector2::Multiply(Vector2(2, 3), Vector2(4, 5));
    EXPECT_EQ(m.x, 8.0f);
    EXPECT_EQ(m.y, 15.0f);
    Vector2 a = Vector2::Add(Vector2(1.5f, -2), Vector2(0.5f, 7));
    EXPECT_EQ(a.x, 2.0f);
    EXPECT_EQ(a.y, 5.0f);
    Vector2 s = Vector2::Subtract(Vector2(1.5f, -2), Vector2(0.5f, 7));
    EXPECT_EQ(s.x, 1.0f);
    EXPECT_EQ(s.y, -9.0f);
    Vector2 d;
    EXPECT_EQ(d.x, 0.0f);
    d.Set(3, 4);
    EXPECT_EQ(d.y, 4.0f);
}

TEST(Vector3, CrossLengthNormalized)
{
    ExpectVector(Vector3::Cross(Vector3(1, 0, 0), Vector3(0, 1, 0)), 0, 0, 1);
    ExpectVector(Vector3::Cross(Vector3(0, 1, 0), Vector3(1, 0, 0)), 0, 0, -1);
    ExpectVector(Vector3::Cross(Vector3(1, 2, 3), Vector3(4, 5, 6)), -3, 6, -3);
    EXPECT_FLOAT_EQ(Vector3::Length(3, 4, 12), 13.0f);
    ExpectVector(Vector3::Normalized(0, 3, 4), 0, 0.6f, 0.8f);
    ExpectVector(Vector3::Normalized(0, 0, 0), 0, 0, 0);
    ExpectVector(Vector3::Add(Vector3(1, 2, 3), Vector3(1, 1, 1)), 2, 3, 4);
    ExpectVector(Vector3::Subtract(Vector3(1, 2, 3), Vector3(1, 1, 1)), 0, 1, 2);
    ExpectVector(Vector3::Multiply(Vector3(1, 2, 3), Vector3(2, 3, 4)), 2, 6, 12);
}

TEST(Vector3, FreeFunctionsAgreeWithMembers)
{
    const float a[3] = {0.3f, -1.2f, 2.5f};
    const float b[3] = {-4.0f, 0.7f, 1.1f};
    float x = 0, y = 0, z = 0;
    Cross3(x, y, z, a[0], a[1], a[2], b[0], b[1], b[2]);
    Vector3 c = Vector3::Cross(Vector3(a[0], a[1], a[2]), Vector3(b[0], b[1], b[2]));
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(z, c.z);
    // The cross product is perpendicular to both factors.
    EXPECT_NEAR(Dot3(x, y, z, a[0], a[1], a[2]), 0.0f, 1e-5f);
    EXPECT_NEAR(Dot3(x, y, z, b[0], b[1], b[2]), 0.0f, 1e-5f);
    EXPECT_FLOAT_EQ(Dot3(1, 2, 3, 4, 5, 6), 32.0f);
    EXPECT_FLOAT_EQ(Length3(2, 3, 6), 7.0f);
}
}

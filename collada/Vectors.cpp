#include "collada/Vectors.h"

#include <cmath>

float Vector3::Length(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

Vector3 Vector3::Normalized(float x, float y, float z)
{
    float length = Length(x, y, z);
    if (!(length > 0.0f) || !std::isfinite(length))
        return Vector3();
    return Vector3(x / length, y / length, z / length);
}

Vector3 Vector3::Cross(Vector3 a, Vector3 b)
{
    return Vector3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

float Dot3(float ax, float ay, float az, float bx, float by, float bz) { return ax * bx + ay * by + az * bz; }

float Length3(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

void Cross3(float& outX, float& outY, float& outZ, float ax, float ay, float az, float bx, float by, float bz)
{
    outX = ay * bz - az * by;
    outY = az * bx - ax * bz;
    outZ = ax * by - ay * bx;
}

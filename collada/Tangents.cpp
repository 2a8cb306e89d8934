// Per-vertex tangent frames for normal mapping.
#include <cmath>
#include <vector>

#include "collada/Geometry.h"
#include "collada/Vectors.h"

namespace {
bool Finite3(float x, float y, float z) { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }

// A length that can divide: positive, finite, and not so small that the quotient overflows.
bool Usable(float length) { return std::isfinite(length) && length > 1e-30f; }

// Some unit vector perpendicular to (x, y, z), which must be a unit vector or zero.
Vector3 AnyPerpendicular(Vector3 v)
{
    // Cross with the axis least aligned with v.
    Vector3 axis = std::fabs(v.x) <= std::fabs(v.y) && std::fabs(v.x) <= std::fabs(v.z) ? Vector3(1, 0, 0)
                 : std::fabs(v.y) <= std::fabs(v.z)                                    ? Vector3(0, 1, 0)
                                                                                         : Vector3(0, 0, 1);
    Vector3 c = Vector3::Cross(v, axis);
    float length = Length3(c.x, c.y, c.z);
    if (!Usable(length))
        return Vector3(1, 0, 0);
    return Vector3(c.x / length, c.y / length, c.z / length);
}
}

bool TGeometry::ComputeTangentSpace()
{
    if (triangles.empty() || positions.empty() || texCoords.empty() || normals.empty())
        return false;
    const size_t vertexCount = positions.size() / 3;
    tangents.assign(positions.size(), 0.0f);
    binormals.assign(positions.size(), 0.0f);

    auto valid = [&](int i) {
        return i >= 0 && static_cast<size_t>(i) < vertexCount && static_cast<size_t>(i) < texCoords.size() / 2;
    };
    const size_t triangleCount = triangles.size() / 3;
    for (size_t t = 0; t < triangleCount; ++t) {
        int i[3] = {triangles[3 * t], triangles[3 * t + 1], triangles[3 * t + 2]};
        if (!valid(i[0]) || !valid(i[1]) || !valid(i[2]))
            continue;
        const float* p0 = &positions[3 * i[0]];
        const float* p1 = &positions[3 * i[1]];
        const float* p2 = &positions[3 * i[2]];
        float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        float dU1 = texCoords[2 * i[1]] - texCoords[2 * i[0]];
        float dV1 = texCoords[2 * i[1] + 1] - texCoords[2 * i[0] + 1];
        float dU2 = texCoords[2 * i[2]] - texCoords[2 * i[0]];
        float dV2 = texCoords[2 * i[2] + 1] - texCoords[2 * i[0] + 1];
        float r = 1.0f / (dU1 * dV2 - dU2 * dV1);
        float s[3];
        float b[3];
        for (int c = 0; c < 3; ++c) {
            s[c] = (dV2 * e1[c] - dV1 * e2[c]) * r;
            b[c] = (dU1 * e2[c] - dU2 * e1[c]) * r;
        }
        // Collinear texture coordinates (or a non-finite input) give no direction: the triangle
        // contributes nothing, and the vertex pass falls back to some frame around the normal.
        if (!std::isfinite(r) || !Finite3(s[0], s[1], s[2]) || !Finite3(b[0], b[1], b[2]))
            continue;
        for (int v : i) {
            for (int c = 0; c < 3; ++c) {
                tangents[3 * v + c] += s[c];
                binormals[3 * v + c] += b[c];
            }
        }
    }

    const size_t normalCount = normals.size() / 3;
    for (size_t a = 0; a < tangents.size() / 3; ++a) {
        float* T = &tangents[3 * a];
        float* B = &binormals[3 * a];
        float N[3] = {0.0f, 0.0f, 0.0f};
        if (a < normalCount && Finite3(normals[3 * a], normals[3 * a + 1], normals[3 * a + 2]))
            for (int c = 0; c < 3; ++c)
                N[c] = normals[3 * a + c];
        float d = Dot3(N[0], N[1], N[2], T[0], T[1], T[2]);
        float t[3] = {T[0] - N[0] * d, T[1] - N[1] * d, T[2] - N[2] * d};
        float tLength = Length3(t[0], t[1], t[2]);
        Vector3 unitNormal = Vector3::Normalized(N[0], N[1], N[2]);
        Vector3 tangent;
        if (Usable(tLength) && Finite3(t[0] / tLength, t[1] / tLength, t[2] / tLength))
            tangent = Vector3(t[0] / tLength, t[1] / tLength, t[2] / tLength);
        else
            tangent = AnyPerpendicular(unitNormal);

        float C[3];
        Cross3(C[0], C[1], C[2], tangent.x, tangent.y, tangent.z, N[0], N[1], N[2]);
        float w = Dot3(C[0], C[1], C[2], B[0], B[1], B[2]) < 0.0f ? -1.0f : 1.0f;
        float bx = w * C[0];
        float by = w * C[1];
        float bz = w * C[2];
        float bLength = Length3(bx, by, bz);
        Vector3 binormal;
        if (Usable(bLength) && Finite3(bx / bLength, by / bLength, bz / bLength)) {
            binormal = Vector3(bx / bLength, by / bLength, bz / bLength);
        } else {
            // No usable normal: any unit vector across the tangent, on the side the v direction asks for.
            Vector3 p = AnyPerpendicular(tangent);
            float side = Dot3(p.x, p.y, p.z, B[0], B[1], B[2]) < 0.0f ? -1.0f : 1.0f;
            binormal = Vector3(side * p.x, side * p.y, side * p.z);
        }
        T[0] = tangent.x;
        T[1] = tangent.y;
        T[2] = tangent.z;
        B[0] = binormal.x;
        B[1] = binormal.y;
        B[2] = binormal.z;
    }
    return true;
}

#pragma once
// Small single-precision vector values shared by the point editor, the reconstruction, the texture
// builder and the tangent space. Passed and returned by value.

struct Vector2 {
    float x = 0.0f;
    float y = 0.0f;

    Vector2() = default;
    Vector2(float x_, float y_) : x(x_), y(y_) {}
    void Set(float x_, float y_) { x = x_; y = y_; }

    static Vector2 Add(Vector2 a, Vector2 b) { return {a.x + b.x, a.y + b.y}; }
    static Vector2 Subtract(Vector2 a, Vector2 b) { return {a.x - b.x, a.y - b.y}; }
    // Component by component.
    static Vector2 Multiply(Vector2 a, Vector2 b) { return {a.x * b.x, a.y * b.y}; }
};

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vector3() = default;
    Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    void Set(float x_, float y_, float z_) { x = x_; y = y_; z = z_; }

    static Vector3 Add(Vector3 a, Vector3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    static Vector3 Subtract(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    // Component by component.
    static Vector3 Multiply(Vector3 a, Vector3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }

    // Square root of x*x + y*y + z*z.
    static float Length(float x, float y, float z);
    // (x, y, z) divided by its length; the zero vector for a zero (or non-finite) length.
    static Vector3 Normalized(float x, float y, float z);
    static Vector3 Cross(Vector3 a, Vector3 b);
};

float Dot3(float ax, float ay, float az, float bx, float by, float bz);
// Square root of the sum of the squares.
float Length3(float x, float y, float z);
// Writes a x b into (outX, outY, outZ).
void Cross3(float& outX, float& outY, float& outZ, float ax, float ay, float az, float bx, float by, float bz);

#include "tools/mkcontent/mesh_shapes.h"

#include <cmath>

namespace mkcontent {

namespace {
constexpr float pi = 3.14159265358979f;
}

Shape& Shape::translate(float x, float y, float z)
{
    for (auto& p : points) {
        p[0] += x;
        p[1] += y;
        p[2] += z;
    }
    return *this;
}

Shape& Shape::append(const Shape& other)
{
    const u32 base = u32(points.size());
    points.insert(points.end(), other.points.begin(), other.points.end());
    uv.insert(uv.end(), other.uv.begin(), other.uv.end());
    for (auto face : other.faces) {
        for (u32& i : face)
            i += base;
        faces.push_back(face);
    }
    return *this;
}

Shape box(float sx, float sy, float sz)
{
    const float x = sx / 2, y = sy / 2, z = sz / 2;
    Shape s;
    s.points = {{-x, -y, -z}, {x, -y, -z}, {x, y, -z}, {-x, y, -z},
                {-x, -y, z},  {x, -y, z},  {x, y, z},  {-x, y, z}};
    s.faces = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {3, 7, 6, 2}, {0, 4, 7, 3}, {1, 2, 6, 5}};
    s.uv = {{0, 1}, {1, 1}, {1, 0}, {0, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}};
    return s;
}

Shape grid(float sx, float sz, u32 nx, u32 nz)
{
    Shape s;
    for (u32 j = 0; j <= nz; ++j)
        for (u32 i = 0; i <= nx; ++i) {
            const float u = float(i) / float(nx), v = float(j) / float(nz);
            s.points.push_back({(u - 0.5f) * sx, 0.0f, (v - 0.5f) * sz});
            s.uv.push_back({u, v});
        }
    const u32 row = nx + 1;
    for (u32 j = 0; j < nz; ++j)
        for (u32 i = 0; i < nx; ++i) {
            const u32 a = j * row + i;
            s.faces.push_back({a, a + row, a + row + 1, a + 1});
        }
    return s;
}

Shape sphere(float r, u32 rings, u32 segments)
{
    Shape s;
    s.points.push_back({0.0f, r, 0.0f});
    s.uv.push_back({0.5f, 0.0f});
    for (u32 j = 1; j < rings; ++j) {
        const float a = pi * float(j) / float(rings);
        for (u32 i = 0; i < segments; ++i) {
            const float b = 2 * pi * float(i) / float(segments);
            s.points.push_back({r * std::sin(a) * std::cos(b), r * std::cos(a), r * std::sin(a) * std::sin(b)});
            s.uv.push_back({float(i) / float(segments), float(j) / float(rings)});
        }
    }
    const u32 bottom = u32(s.points.size());
    s.points.push_back({0.0f, -r, 0.0f});
    s.uv.push_back({0.5f, 1.0f});
    const auto at = [segments](u32 ring, u32 i) { return 1 + (ring - 1) * segments + i % segments; };
    for (u32 i = 0; i < segments; ++i) {
        s.faces.push_back({0, at(1, i + 1), at(1, i)});
        for (u32 j = 1; j + 1 < rings; ++j)
            s.faces.push_back({at(j, i), at(j, i + 1), at(j + 1, i + 1), at(j + 1, i)});
        s.faces.push_back({bottom, at(rings - 1, i), at(rings - 1, i + 1)});
    }
    return s;
}

Shape tube(float r, float height, u32 segments, u32 rings)
{
    Shape s;
    for (u32 j = 0; j <= rings; ++j)
        for (u32 i = 0; i < segments; ++i) {
            const float b = 2 * pi * float(i) / float(segments);
            s.points.push_back({r * std::cos(b), height * float(j) / float(rings), r * std::sin(b)});
            s.uv.push_back({float(i) / float(segments), float(j) / float(rings)});
        }
    for (u32 j = 0; j < rings; ++j)
        for (u32 i = 0; i < segments; ++i) {
            const u32 a = j * segments + i, b = j * segments + (i + 1) % segments;
            s.faces.push_back({a, a + segments, b + segments, b});
        }
    return s;
}

} // namespace mkcontent

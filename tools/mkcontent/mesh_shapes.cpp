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

Shape letter(char c, float cell, float depth)
{
    // Seven rows per letter, top first; bit 4 is the leftmost pixel.
    static const u8 font[26][7] = {
        {14, 17, 17, 31, 17, 17, 17}, {30, 17, 17, 30, 17, 17, 30}, {14, 17, 16, 16, 16, 17, 14},
        {30, 17, 17, 17, 17, 17, 30}, {31, 16, 16, 30, 16, 16, 31}, {31, 16, 16, 30, 16, 16, 16},
        {14, 17, 16, 23, 17, 17, 15}, {17, 17, 17, 31, 17, 17, 17}, {14, 4, 4, 4, 4, 4, 14},
        {7, 2, 2, 2, 2, 18, 12},      {17, 18, 20, 24, 20, 18, 17}, {16, 16, 16, 16, 16, 16, 31},
        {17, 27, 21, 21, 17, 17, 17}, {17, 17, 25, 21, 19, 17, 17}, {14, 17, 17, 17, 17, 17, 14},
        {30, 17, 17, 30, 16, 16, 16}, {14, 17, 17, 17, 21, 18, 13}, {30, 17, 17, 30, 20, 18, 17},
        {15, 16, 16, 14, 1, 1, 30},   {31, 4, 4, 4, 4, 4, 4},       {17, 17, 17, 17, 17, 17, 14},
        {17, 17, 17, 17, 17, 10, 4},  {17, 17, 17, 21, 21, 21, 10}, {17, 17, 10, 4, 10, 17, 17},
        {17, 17, 10, 4, 4, 4, 4},     {31, 1, 2, 4, 8, 16, 31},
    };
    Shape s;
    if (c < 'A' || c > 'Z')
        return s;
    for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 5; ++column)
            if (font[c - 'A'][row] & (16 >> column)) {
                Shape pixel = box(cell, cell, depth);
                pixel.translate((float(column) + 0.5f) * cell, (6.5f - float(row)) * cell, depth / 2);
                s.append(pixel);
            }
    return s;
}

} // namespace mkcontent

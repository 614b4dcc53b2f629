#include "scene/ear_clipping.h"

#include <algorithm>
#include <cmath>

namespace earclip {

namespace {

float cross(const Point2& o, const Point2& a, const Point2& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

} // namespace

int dominantAxis(const D3DVECTOR& n)
{
    const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    if (ax >= ay && ax >= az)
        return 0;
    return ay >= az ? 1 : 2;
}

Point2 project(const D3DVECTOR& p, int axis)
{
    switch (axis) {
    case 0: return {p.y, p.z};
    case 1: return {p.z, p.x};
    default: return {p.x, p.y};
    }
}

float triangleArea(const Point2& a, const Point2& b, const Point2& c)
{
    const double la = std::hypot(double(b.x - c.x), double(b.y - c.y));
    const double lb = std::hypot(double(a.x - c.x), double(a.y - c.y));
    const double lc = std::hypot(double(a.x - b.x), double(a.y - b.y));
    const double s = 0.5 * (la + lb + lc);
    // Rounding can make a flat triangle's product slightly negative.
    return float(std::sqrt(std::max(0.0, s * (s - la) * (s - lb) * (s - lc))));
}

bool CornerList::contains(u32 corner) const
{
    return std::find(m_corners.begin(), m_corners.end(), corner) != m_corners.end();
}

bool isEar(const D3DVECTOR* points, const CornerList& list, size_t i, int axis, float sign)
{
    if (list.empty())
        return true;
    const size_t ip = list.previous(i), in = list.next(i);
    const Point2 a = project(points[list.at(ip)], axis);
    const Point2 b = project(points[list.at(i)], axis);
    const Point2 c = project(points[list.at(in)], axis);
    const float turn = cross(a, b, c);
    if (turn * sign < 0.0f)
        return false;
    if (turn == 0.0f)
        return true; // a flat corner has no inside to hold another corner
    for (size_t k = 0; k < list.size(); ++k) {
        if (k == i || k == ip || k == in)
            continue;
        const Point2 p = project(points[list.at(k)], axis);
        const float u = cross(b, c, p) / turn, v = cross(c, a, p) / turn, w = cross(a, b, p) / turn;
        if (u >= 0.0f && v >= 0.0f && w >= 0.0f)
            return false;
    }
    return true;
}

bool triangulate(const D3DVECTOR* points, const std::vector<u32>& corners, int axis, float sign,
                 std::vector<u32>& triangles)
{
    CornerList list(corners);
    size_t i = 0, misses = 0;
    while (list.size() >= 3) {
        if (i >= list.size())
            i = 0;
        if (isEar(points, list, i, axis, sign)) {
            triangles.push_back(list.at(list.previous(i)));
            triangles.push_back(list.at(i));
            triangles.push_back(list.at(list.next(i)));
            list.remove(i);
            misses = 0;
            continue;
        }
        if (++misses > list.size())
            return false;
        ++i;
    }
    return true;
}

} // namespace earclip

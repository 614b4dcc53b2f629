// Ear-clipping triangulation of one polygon, worked in the plane that drops
// the polygon's dominant normal axis.
#pragma once

#include "foundation/types.h"

#include <d3d9types.h>

#include <vector>

namespace earclip {

struct Point2 {
    float x, y;
};

// 0, 1 or 2: the largest absolute component of the normal, x before y
// before z on ties.
int dominantAxis(const D3DVECTOR& normal);
// p with the dominant axis dropped.
Point2 project(const D3DVECTOR& p, int axis);
// Heron's formula on three 2-D points.
float triangleArea(const Point2& a, const Point2& b, const Point2& c);

// The corner list the clipping walks: next with wrap-around, removal and
// membership.
class CornerList {
public:
    explicit CornerList(std::vector<u32> corners) : m_corners(std::move(corners)) {}
    size_t size() const { return m_corners.size(); }
    bool empty() const { return m_corners.empty(); }
    u32 at(size_t i) const { return m_corners[i]; }
    size_t next(size_t i) const { return (i + 1) % m_corners.size(); }
    size_t previous(size_t i) const { return (i + m_corners.size() - 1) % m_corners.size(); }
    void remove(size_t i) { m_corners.erase(m_corners.begin() + std::ptrdiff_t(i)); }
    bool contains(u32 corner) const;

private:
    std::vector<u32> m_corners;
};

// True when corner i of the list is an ear: convex for the winding sign and
// with no other corner of the list inside its triangle.
bool isEar(const D3DVECTOR* points, const CornerList& list, size_t i, int axis, float sign);

// Appends the triangles (three point numbers each) of the polygon. Returns
// false, with the triangles found so far, when a full pass over the
// remaining corners finds no ear (self-crossing outlines).
bool triangulate(const D3DVECTOR* points, const std::vector<u32>& corners, int axis, float sign,
                 std::vector<u32>& triangles);

} // namespace earclip

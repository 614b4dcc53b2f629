// Per-point maps of an object layer that surfaces and texture layers keep
// for later: UV maps (with their per-polygon overrides) and vertex colour
// maps. The mesh holds them as PolyMesh::UVMap and PolyMesh::VertexColorMap.
// Every per-point array here is a std::vector sized by the reader, so points
// the file does not mention read as zero.
//
// Counting: a map starts with no references; every holder (the reader's
// layer table while the file is read, a surface, a texture layer) adds one
// and drops its own, and the last drop deletes the map. MapRef is that
// holder written once.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/ref_count_base.h"
#include "foundation/types.h"

#include <cstddef>
#include <utility>
#include <vector>

class VertexMap : public RefCountBase {
public:
    u32 refCount = 0;
    String name;

    void addRef() { ++refCount; }
    // Drops one reference; the last one deletes the map.
    void release()
    {
        if (--refCount == 0)
            delete this;
    }
};

// "TXUV": u and v per point (sized by the layer's point count), and the
// discontinuous values of "VMAD" chunks, one entry per value in the four
// parallel lists.
class UVMap : public VertexMap {
public:
    std::vector<float> u;
    std::vector<float> v;
    std::vector<u32> vmadPoints;
    std::vector<u32> vmadPolygons;
    std::vector<float> vmadU;
    std::vector<float> vmadV;

    void addDiscontinuous(u32 point, u32 polygon, float du, float dv)
    {
        vmadPoints.push_back(point);
        vmadPolygons.push_back(polygon);
        vmadU.push_back(du);
        vmadV.push_back(dv);
    }
};

// "RGB " and "RGBA": red, green, blue, alpha per point.
class VertexColorMap : public VertexMap {
public:
    std::vector<float> colors; // 4 per point
};

// One counted reference to a map (or none).
template <class T>
class MapRef {
public:
    MapRef() = default;
    explicit MapRef(T* map) : map_(map)
    {
        if (map_)
            map_->addRef();
    }
    MapRef(const MapRef& other) : MapRef(other.map_) {}
    MapRef(MapRef&& other) noexcept : map_(std::exchange(other.map_, nullptr)) {}
    MapRef& operator=(MapRef other) noexcept
    {
        std::swap(map_, other.map_);
        return *this;
    }
    ~MapRef()
    {
        if (map_)
            map_->release();
    }

    T* get() const { return map_; }
    T* operator->() const { return map_; }
    explicit operator bool() const { return map_ != nullptr; }

private:
    T* map_ = nullptr;
};

// Stores a reference to map at slot (an object layer number) of a
// per-layer list, growing the list with empty entries. Negative slots are
// ignored.
template <class T>
void setMapAt(std::vector<MapRef<T>>& maps, i32 slot, T* map)
{
    if (slot < 0)
        return;
    if ((size_t)slot >= maps.size())
        maps.resize((size_t)slot + 1);
    maps[(size_t)slot] = MapRef<T>(map);
}

// The map at slot, or null when the list is shorter or the entry empty.
template <class T>
T* mapAt(const std::vector<MapRef<T>>& maps, i32 slot)
{
    if (slot < 0 || (size_t)slot >= maps.size())
        return nullptr;
    return maps[(size_t)slot].get();
}

#include "scene/poly_mesh.h"

#include "foundation/engine_limits.h"
#include "foundation/log.h"
#include "foundation/vec3.h"
#include "materials/surface.h"
#include "scene/bone.h"
#include "scene/mesh_file.h"
#include "scene/subset.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

// Normals weld only when they agree this closely in every component.
constexpr float kNormalTolerance = 1e-6f;

bool sameNormal(const D3DVECTOR& a, const D3DVECTOR& b)
{
    return std::fabs(a.x - b.x) < kNormalTolerance && std::fabs(a.y - b.y) < kNormalTolerance &&
           std::fabs(a.z - b.z) < kNormalTolerance;
}

// The unique vertices of a mesh filed by surface, weld group (point),
// per-layer keys and normal, so that a corner finds its vertex in constant
// time however many differing corners share its point. Normals fall into
// cells twice the tolerance wide: a vertex within tolerance of a corner lies
// in one of the two cells per axis that the corner's tolerance box touches,
// and a cell holds at most two vertices per axis, since two vertices of one
// key differ somewhere by the tolerance or they would have welded.
class WeldTable {
public:
    explicit WeldTable(const std::vector<MeshVertex>& vertices) : vertices(vertices) {}

    // The newest vertex of (surface, group) whose first `keys` keys equal
    // the corner's and whose normal is within tolerance; -1 when none.
    i32 find(const MeshVertex& corner, i32 surface, i32 group, int keys) const
    {
        const float* n = &corner.normal.x;
        i32 lo[3], hi[3];
        for (int a = 0; a < 3; ++a) {
            // A normal that is not finite never welds, and normalised ones
            // are never large.
            if (!(std::fabs(n[a]) <= kCellRange))
                return -1;
            // A hair wider than the box, so rounding never leaves out a cell.
            lo[a] = i32(std::floor(double(n[a]) * kCellsPerUnit - 0.501));
            hi[a] = i32(std::floor(double(n[a]) * kCellsPerUnit + 0.501));
        }
        i32 newest = -1;
        Key key{surface, group, keys, corner.texKeys, {}};
        for (key.cell[0] = lo[0]; key.cell[0] <= hi[0]; ++key.cell[0])
            for (key.cell[1] = lo[1]; key.cell[1] <= hi[1]; ++key.cell[1])
                for (key.cell[2] = lo[2]; key.cell[2] <= hi[2]; ++key.cell[2]) {
                    const Slot* slot = lookUp(key, hashOf(key));
                    // Newest first: the first match is the cell's newest.
                    for (i32 u = slot ? slot->head : -1; u >= 0; u = next[size_t(u)])
                        if (sameNormal(corner.normal, vertices[size_t(u)].normal)) {
                            newest = std::max(newest, u);
                            break;
                        }
                }
        return newest;
    }

    // Files the vertex just appended, the newest one, under (surface, group).
    void insert(i32 surface, i32 group, int keys)
    {
        const size_t index = next.size();
        next.push_back(-1);
        surfaceOf.push_back(surface);
        groupOf.push_back(group);
        Key key{surface, group, keys, vertices[index].texKeys, {}};
        if (!cellOf(vertices[index].normal, key.cell))
            return; // never matches anything
        if ((used + 1) * 2 > slots.size())
            grow();
        const u64 hash = hashOf(key);
        Slot* slot = lookUp(key, hash);
        if (!slot) {
            slot = &slots[hash & (slots.size() - 1)];
            while (slot->head >= 0)
                slot = slot == &slots.back() ? slots.data() : slot + 1;
            slot->hash = hash;
            ++used;
        }
        next[index] = slot->head;
        slot->head = i32(index);
    }

private:
    static constexpr double kCellsPerUnit = 0.5 / double(kNormalTolerance);
    static constexpr float kCellRange = 1000.0f;

    struct Key {
        i32 surface, group;
        int keys;
        const i32* texKeys;
        i32 cell[3];
    };
    struct Slot {
        u64 hash = 0;
        i32 head = -1; // the newest vertex of the cell, chained by next
    };

    static bool cellOf(const D3DVECTOR& normal, i32 cell[3])
    {
        const float* n = &normal.x;
        for (int a = 0; a < 3; ++a) {
            if (!(std::fabs(n[a]) <= kCellRange))
                return false;
            cell[a] = i32(std::floor(double(n[a]) * kCellsPerUnit));
        }
        return true;
    }

    static u64 hashOf(const Key& key)
    {
        u64 h = 0x9E3779B97F4A7C15ull;
        auto mix = [&h](i32 v) {
            h = (h ^ u32(v)) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        };
        mix(key.surface);
        mix(key.group);
        for (int k = 0; k < key.keys; ++k)
            mix(key.texKeys[k]);
        for (i32 c : key.cell)
            mix(c);
        return h;
    }

    bool holds(const Slot& slot, const Key& key) const
    {
        const size_t v = size_t(slot.head);
        i32 cell[3];
        return surfaceOf[v] == key.surface && groupOf[v] == key.group &&
               std::equal(key.texKeys, key.texKeys + key.keys, vertices[v].texKeys) &&
               cellOf(vertices[v].normal, cell) && std::equal(cell, cell + 3, key.cell);
    }

    const Slot* lookUp(const Key& key, u64 hash) const
    {
        if (slots.empty())
            return nullptr;
        const size_t mask = slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (slot.head < 0)
                return nullptr;
            if (slot.hash == hash && holds(slot, key))
                return &slot;
        }
    }
    Slot* lookUp(const Key& key, u64 hash)
    {
        return const_cast<Slot*>(static_cast<const WeldTable*>(this)->lookUp(key, hash));
    }

    void grow()
    {
        std::vector<Slot> old(std::max<size_t>(64, slots.size() * 2));
        old.swap(slots);
        const size_t mask = slots.size() - 1;
        for (const Slot& s : old) {
            if (s.head < 0)
                continue;
            size_t i = s.hash & mask;
            while (slots[i].head >= 0)
                i = (i + 1) & mask;
            slots[i] = s;
        }
    }

    const std::vector<MeshVertex>& vertices;
    std::vector<Slot> slots; // open addressing, a power of two long
    std::vector<i32> next;   // per vertex: the next older vertex of its cell
    std::vector<i32> surfaceOf, groupOf; // per vertex
    size_t used = 0;
};

// The exponent of the automatic weights is 2^|falloff - 1|; larger
// exponents only overflow.
constexpr int kMaxFalloffExponent = 127;

} // namespace

PolyMesh::PolyMesh(Engine* engine, MeshFile* object, i32 polygonCount, Polygon* polygons, D3DVECTOR* points,
                   i32 pointCount)
    : Mesh(engine, object), pointArray(points), polygons(polygons),
      polygonCount(polygons ? std::max(polygonCount, 0) : 0), pointCount(points ? std::max(pointCount, 0) : 0)
{
    cornerCount = this->pointCount;
}

PolyMesh::~PolyMesh()
{
    for (Bone* bone : bones)
        delete bone;
    delete[] pointArray;
    for (i32 i = 0; i < polygonCount; ++i)
        delete[] polygons[i].pointIndices;
    delete[] polygons;
    deleteSubsets();
}

void PolyMesh::deleteSubsets()
{
    for (Subset* s : subsets)
        delete s;
    subsets.clear();
}

i32 PolyMesh::surfaceCount() const
{
    return object && object->tags ? std::max(object->tagCount, 0) : 0;
}

Surface* PolyMesh::surfaceAt(i32 index) const
{
    return index >= 0 && index < surfaceCount() ? object->tags[index] : nullptr;
}

bool PolyMesh::prepare()
{
    if (prepared)
        return true;
    // What a failed attempt made is rebuilt, not kept twice.
    deleteSubsets();
    cornerCount = 0;
    computeBounds();
    removeDegeneratePolygons();
    buildRenderData(true);
    prepared = 1;
    for (Subset* s : subsets)
        if (!s->build())
            prepared = 0;
    return prepared != 0;
}

void PolyMesh::updateBounds()
{
    if (cachedPoints)
        return;
    computeBounds();
    cachedPoints = pointArray;
}


void PolyMesh::computeBounds()
{
    if (!pointArray || pointCount <= 0)
        return;
    D3DVECTOR lo = pointArray[0], hi = pointArray[0];
    for (i32 i = 1; i < pointCount; ++i) {
        const D3DVECTOR& p = pointArray[i];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    setBoundingBox(lo, hi);
}

void PolyMesh::removeDegeneratePolygons()
{
    if (!polygons)
        return;
    const i32 surfaces = surfaceCount();
    i32 kept = 0;
    for (i32 i = 0; i < polygonCount; ++i) {
        Polygon& poly = polygons[i];
        bool usable = poly.vertexCount >= 3 && poly.pointIndices && poly.surfaceIndex >= 0 &&
                      poly.surfaceIndex < surfaces && surfaceAt(poly.surfaceIndex);
        // A damaged file can name points the layer does not have.
        for (u32 k = 0; usable && k < poly.vertexCount; ++k)
            usable = poly.pointIndices[k] < u32(pointCount);
        if (!usable) {
            delete[] poly.pointIndices;
            poly.pointIndices = nullptr;
            continue;
        }
        // The file's number is kept when an earlier, failed preparation
        // has already cleaned up.
        if (!poly.owner)
            poly.polygonNumber = i;
        poly.owner = this;
        cornerCount += i32(poly.vertexCount);
        polygons[kept++] = poly;
    }
    polygonCount = kept;
}

void PolyMesh::triangulateZigZag(u32 n, std::vector<u32>& out)
{
    if (n < 3)
        return;
    u32 lo = 0, hi = n - 1;
    for (u32 remaining = n - 2; remaining > 0; ++lo, --hi) {
        out.insert(out.end(), {lo, lo + 1, hi});
        if (--remaining == 0)
            break;
        out.insert(out.end(), {lo + 1, hi - 1, hi});
        --remaining;
    }
}

D3DVECTOR PolyMesh::triangleNormal(const D3DVECTOR& p0, const D3DVECTOR& p1, const D3DVECTOR& p2)
{
    return vec3Normalized(vec3Cross(vec3Sub(p2, p0), vec3Sub(p0, p1)));
}

void PolyMesh::buildRenderData(bool seam)
{
    BuildData data;
    data.seam = seam;
    data.faceNormals.resize(size_t(polygonCount));
    for (i32 i = 0; i < polygonCount; ++i) {
        const u32* idx = polygons[i].pointIndices;
        data.faceNormals[size_t(i)] = triangleNormal(pointArray[idx[0]], pointArray[idx[1]], pointArray[idx[2]]);
    }
    triangulate(data);
    smoothNormals(data);
    const i32 weightCount = std::min<i32>(i32(bones.size()), 4);
    for (i32 s = 0; s < surfaceCount(); ++s)
        if (Surface* surface = surfaceAt(s))
            surface->boneWeightCount = weightCount;
    buildSubsets(data);
}

// Corner numbers run over all polygons in order; each polygon's triangles
// follow from its corner count (triangulateZigZag) when it is welded.
void PolyMesh::triangulate(BuildData& data)
{
    data.cornerBase.resize(size_t(polygonCount));
    u32 base = 0;
    for (i32 i = 0; i < polygonCount; ++i) {
        data.cornerBase[size_t(i)] = base;
        base += polygons[i].vertexCount;
    }
}

void PolyMesh::buildCorners(const BuildData& data, i32 polygon, std::vector<MeshVertex>& out)
{
    const Polygon& poly = polygons[polygon];
    const u32 base = data.cornerBase[size_t(polygon)];
    out.resize(poly.vertexCount);
    for (u32 k = 0; k < poly.vertexCount; ++k) {
        MeshVertex& c = out[k];
        c = MeshVertex{};
        c.position = pointArray[poly.pointIndices[k]];
        c.normal = data.cornerNormals[base + k];
        c.polygonNumber = poly.polygonNumber;
        c.weldGroup = data.weldGroups[base + k];
    }
    if (Surface* s = surfaceAt(poly.surfaceIndex))
        s->generateTexCoords(out.data(), int(poly.vertexCount), poly.pointIndices, poly.polygonNumber, layerIndex,
                             data.faceNormals[size_t(polygon)], data.seam);
    if (!bones.empty())
        computeBoneWeights(out.data(), poly.vertexCount);
}

void PolyMesh::smoothNormals(BuildData& data)
{
    const size_t corners = size_t(std::max(cornerCount, 0));
    data.cornerNormals.resize(corners);
    data.weldGroups.resize(corners);
    // Per corner: its polygon and its point; then the corners of each point
    // in corner order (a counting sort by point).
    std::vector<u32> polygonOf(corners), pointOf(corners);
    std::vector<u32> start(size_t(pointCount) + 1, 0);
    for (i32 i = 0; i < polygonCount; ++i) {
        const Polygon& poly = polygons[i];
        for (u32 k = 0; k < poly.vertexCount; ++k) {
            const u32 c = data.cornerBase[size_t(i)] + k;
            polygonOf[c] = u32(i);
            pointOf[c] = poly.pointIndices[k];
            data.cornerNormals[c] = data.faceNormals[size_t(i)];
            ++start[pointOf[c] + 1];
        }
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<u32> list(corners);
    {
        std::vector<u32> fill(start.begin(), start.end() - 1);
        for (u32 c = 0; c < corners; ++c)
            list[fill[pointOf[c]]++] = c;
    }
    std::vector<float> threshold(static_cast<size_t>(polygonCount));
    for (i32 i = 0; i < polygonCount; ++i) {
        const Surface* s = surfaceAt(polygons[i].surfaceIndex);
        threshold[size_t(i)] = s ? s->smoothingCosine : 1.0f;
    }
    // The corners of a point fall into groups of one face normal and one
    // smoothing threshold, which share their result: a point that many
    // corners of a few polygons share costs their number, not its square.
    // Each pair of groups is compared once; the mesh's budget of pairs
    // bounds a point where tens of thousands of different faces meet, which
    // then keeps its faces' normals.
    struct Group {
        D3DVECTOR normal;
        float threshold;
        u32 count;
    };
    // Sorted by face normal and threshold bits, each key made once.
    struct Keyed {
        std::array<u32, 4> key;
        u32 corner;
    };
    auto keyed = [&](u32 c) {
        const D3DVECTOR& n = data.faceNormals[polygonOf[c]];
        const float t = threshold[polygonOf[c]];
        Keyed k;
        std::memcpy(&k.key[0], &n.x, 4);
        std::memcpy(&k.key[1], &n.y, 4);
        std::memcpy(&k.key[2], &n.z, 4);
        std::memcpy(&k.key[3], &t, 4);
        k.corner = c;
        return k;
    };
    std::vector<Keyed> sorted;
    std::vector<Group> groups;
    std::vector<u32> groupOf;
    std::vector<D3DVECTOR> sums;
    u64 budget = limits::meshSmoothingPairs;
    u32 unsmoothed = 0;
    for (i32 p = 0; p < pointCount; ++p) {
        const u32 first = start[size_t(p)], end = start[size_t(p) + 1];
        for (u32 a = first; a < end; ++a)
            data.weldGroups[list[a]] = i32(list[first]);
        if (end - first < 2)
            continue;
        sorted.clear();
        for (u32 a = first; a < end; ++a)
            sorted.push_back(keyed(list[a]));
        std::sort(sorted.begin(), sorted.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
        groups.clear();
        groupOf.resize(sorted.size());
        for (size_t a = 0; a < sorted.size(); ++a) {
            const u32 polygon = polygonOf[sorted[a].corner];
            if (a == 0 || sorted[a].key != sorted[a - 1].key)
                groups.push_back({data.faceNormals[polygon], threshold[polygon], 0});
            ++groups.back().count;
            groupOf[a] = u32(groups.size() - 1);
        }
        const u64 pairs = u64(groups.size()) * (groups.size() - 1) / 2;
        if (pairs > budget) {
            ++unsmoothed;
            continue;
        }
        budget -= pairs;
        // A group's sum starts with its own normal and gathers the others
        // in group order, whichever half of the pair loop reaches them.
        sums.resize(groups.size());
        for (size_t g = 0; g < groups.size(); ++g)
            sums[g] = groups[g].normal;
        for (size_t g = 0; g < groups.size(); ++g) {
            const Group& a = groups[g];
            if (a.count > 1 && vec3Dot(a.normal, a.normal) >= a.threshold)
                sums[g] = vec3Add(sums[g], vec3Scale(a.normal, float(a.count - 1)));
            for (size_t h = g + 1; h < groups.size(); ++h) {
                const Group& b = groups[h];
                const float dot = vec3Dot(a.normal, b.normal);
                if (dot >= a.threshold)
                    sums[g] = vec3Add(sums[g], vec3Scale(b.normal, float(b.count)));
                if (dot >= b.threshold)
                    sums[h] = vec3Add(sums[h], vec3Scale(a.normal, float(a.count)));
            }
        }
        for (size_t a = 0; a < sorted.size(); ++a)
            data.cornerNormals[sorted[a].corner] = sums[groupOf[a]];
    }
    if (unsmoothed)
        logStream << (name.length() ? name.c_str() : "mesh") << ": smoothing budget of "
                  << limits::meshSmoothingPairs << " normal pairs exceeded, unsmoothed points: " << unsmoothed
                  << std::endl;
    for (D3DVECTOR& n : data.cornerNormals)
        n = vec3Normalized(n);
}

void PolyMesh::boneWeightsAt(const D3DVECTOR& p, u8 indices[4], float weights[4])
{
    struct Record {
        double distance = 0.0;
        double weight = 0.0;
        u32 bone = 0;
    };
    const u32 boneCount = u32(bones.size());
    std::vector<Record> records(std::max<u32>(4, boneCount));
    const int exponent = std::min(std::abs(boneFalloffType - 1), kMaxFalloffExponent);
    double x = std::ldexp(1.0, exponent);
    if (boneFalloffType - 1 < 0)
        x = 1.0 / x;
    bool onBone = false;
    for (u32 b = 0; b < boneCount && b < u32(maxSkinningBones); ++b) {
        Bone* bone = bones[b];
        Record& r = records[b];
        r.bone = b;
        if (!bone)
            continue;
        if (!bone->restValid)
            bone->updateHierarchy(0.0);
        // Rest position and unit direction in object space: the translation
        // and z rows of the rest matrix.
        const D3DMATRIX& rest = bone->restMatrix;
        const D3DVECTOR s = {rest._41, rest._42, rest._43};
        const D3DVECTOR v = {rest._31, rest._32, rest._33};
        const float vLength = vec3Length(v);
        const float L = bone->restLength;
        const D3DVECTOR ps = vec3Sub(p, s);
        float d;
        if (!(vLength > 0.0f) || vec3Dot(v, ps) < 0.0f)
            d = vec3Length(ps);
        else if (vec3Dot(v, vec3Sub(p, vec3Add(s, vec3Scale(v, L)))) <= 0.0f)
            d = vec3Length(vec3Cross(v, ps)) / vLength;
        else
            d = vec3Length(vec3Sub(p, vec3Add(s, vec3Scale(v, L))));
        r.distance = d;
        if (d < 1e-6f) {
            for (Record& other : records)
                other.weight = 0.0;
            r.weight = 1.0;
            onBone = true;
            break;
        }
        const double factor = double(bone->strength) * (bone->scaleStrength ? double(L) : 1.0);
        if (bone->limitedRange) {
            const double lo = bone->minRange, hi = bone->maxRange;
            if (d < lo)
                r.weight = factor;
            else if (d > hi || hi <= 0.0)
                r.weight = 0.0;
            else
                r.weight = (hi - d) / hi;
        } else {
            r.weight = factor * std::pow(1.0 / double(d), x);
        }
        if (std::isnan(r.weight))
            r.weight = 0.0;
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const Record& a, const Record& b) { return a.weight > b.weight; });
    if (!onBone) {
        const size_t n = std::min<size_t>(boneCount, 4);
        double sum = 0.0;
        size_t infinite = 0;
        for (size_t i = 0; i < n; ++i) {
            sum += records[i].weight;
            infinite += std::isinf(records[i].weight) ? 1 : 0;
        }
        if (infinite > 0) {
            // Overflowing weights share the whole influence.
            for (size_t i = 0; i < n; ++i)
                records[i].weight = std::isinf(records[i].weight) ? 1.0 / double(infinite) : 0.0;
        } else if (sum > 0.0 && std::isfinite(sum)) {
            for (size_t i = 0; i < n; ++i)
                records[i].weight /= sum;
        }
    }
    for (int i = 0; i < 4; ++i) {
        indices[i] = u8(records[size_t(i)].bone);
        weights[i] = float(std::min(records[size_t(i)].weight, double(FLT_MAX)));
    }
}

void PolyMesh::computeBoneWeights(MeshVertex* corners, u32 count)
{
    for (u32 i = 0; i < count; ++i)
        boneWeightsAt(corners[i].position, corners[i].boneIndices, corners[i].boneWeights);
}

void PolyMesh::buildSubsets(BuildData& data)
{
    const size_t cornerTotal = data.weldGroups.size();
    std::vector<MeshVertex> unique;
    // Per weld group (point): the first unique vertex made for it over all
    // surfaces.
    std::vector<i32> firstUnique(cornerTotal, -1);
    WeldTable table(unique);
    std::vector<u32> surfaceIndices;
    std::vector<MeshVertex> corners;
    std::vector<u32> local;

    // Polygons by surface, each list in polygon order: the triangles of a
    // surface in triangle order.
    const i32 surfaces = surfaceCount();
    std::vector<u32> start(size_t(surfaces) + 1, 0);
    for (i32 i = 0; i < polygonCount; ++i)
        ++start[size_t(polygons[i].surfaceIndex) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<u32> order(static_cast<size_t>(polygonCount));
    {
        std::vector<u32> fill(start.begin(), start.end() - 1);
        for (i32 i = 0; i < polygonCount; ++i)
            order[fill[size_t(polygons[i].surfaceIndex)]++] = u32(i);
    }

    for (i32 s = 0; s < surfaces; ++s) {
        Surface* surface = surfaceAt(s);
        const u32 surfaceFirst = u32(unique.size());
        const int keys = surface ? std::clamp<int>(surface->layerCount, 0, MeshVertex::maxTexCoordSets) : 0;
        surfaceIndices.clear();
        for (u32 o = start[size_t(s)]; o < start[size_t(s) + 1]; ++o) {
            const i32 polygon = i32(order[o]);
            buildCorners(data, polygon, corners);
            local.clear();
            triangulateZigZag(polygons[polygon].vertexCount, local);
            for (size_t t = 0; t + 2 < local.size(); t += 3) {
                u32 v[3];
                for (int k = 0; k < 3; ++k) {
                    const MeshVertex& c = corners[local[t + size_t(k)]];
                    const size_t group = size_t(c.weldGroup);
                    i32 found = table.find(c, s, i32(group), keys);
                    if (found < 0) {
                        found = i32(unique.size());
                        unique.push_back(c);
                        if (firstUnique[group] < 0)
                            firstUnique[group] = found;
                        unique.back().weldGroup = firstUnique[group];
                        table.insert(s, i32(group), keys);
                    }
                    v[k] = u32(found);
                }
                if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2])
                    continue;
                for (u32 i : v)
                    surfaceIndices.push_back(i - surfaceFirst);
            }
        }
        if (surfaceIndices.empty())
            continue;
        auto subset = std::make_unique<StaticSubset>(engine, surface);
        subset->addTriangles(surfaceIndices.data(), int(surfaceIndices.size()));
        subset->addVertices(unique.data() + surfaceFirst, int(unique.size() - surfaceFirst));
        subsets.push_back(subset.release());
    }
}

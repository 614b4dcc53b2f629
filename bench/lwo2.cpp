// Reading a generated object file (a 500 x 500 point grid of quads with a
// UV map and two surfaces, about 11 MB) with the engine's reader against
// the third-party importer without post-processing, both from the same
// bytes in memory, interleaved, best of several repetitions. The last line
// is ratio=R: our time over theirs.
#include "foundation/diagnostics.h"
#include "foundation/memory_stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_reader.h"
#include "lightwave/meta_scene.h"
#include "scene/scene.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kSide = 500;
constexpr int kRepetitions = 7;

class Bytes {
public:
    std::string data;
    void u2(unsigned v)
    {
        data.push_back(char(v >> 8));
        data.push_back(char(v));
    }
    void u4(unsigned v)
    {
        u2(v >> 16);
        u2(v & 0xFFFF);
    }
    void f4(float f)
    {
        unsigned bits;
        std::memcpy(&bits, &f, 4);
        u4(bits);
    }
    void vx(unsigned v) { v < 0xFF00 ? u2(v) : u4(0xFF000000u | v); }
    void id(const char* four) { data.append(four, 4); }
    void s0(const char* text)
    {
        data += text;
        data.push_back('\0');
        if (data.size() & 1)
            data.push_back('\0');
    }
    void chunk(const char* four, const Bytes& body)
    {
        id(four);
        u4((unsigned)body.data.size());
        data += body.data;
    }
};

std::string makeObject()
{
    Bytes tags, layr, pnts, txuv, pols, ptag, surfA, surfB, file;
    tags.s0("Left");
    tags.s0("Right");
    layr.u2(0);
    layr.u2(0);
    for (int i = 0; i < 3; ++i)
        layr.f4(0);
    txuv.id("TXUV");
    txuv.u2(2);
    txuv.s0("uv");
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            pnts.f4(float(x));
            pnts.f4(float(y));
            pnts.f4(float((x * y) % 7) * 0.1f);
            txuv.vx(unsigned(y * kSide + x));
            txuv.f4(float(x) / kSide);
            txuv.f4(float(y) / kSide);
        }
    pols.id("FACE");
    ptag.id("SURF");
    unsigned polygon = 0;
    for (int y = 0; y + 1 < kSide; ++y)
        for (int x = 0; x + 1 < kSide; ++x) {
            const unsigned p = unsigned(y * kSide + x);
            pols.u2(4);
            pols.vx(p);
            pols.vx(p + kSide);
            pols.vx(p + kSide + 1);
            pols.vx(p + 1);
            ptag.vx(polygon++);
            ptag.u2(x < kSide / 2 ? 0 : 1);
        }
    for (Bytes* s : {&surfA, &surfB}) {
        s->s0(s == &surfA ? "Left" : "Right");
        s->s0("");
        s->id("COLR");
        s->u2(14);
        s->f4(0.8f);
        s->f4(0.5f);
        s->f4(0.2f);
        s->u2(0);
    }
    Bytes body;
    body.id("LWO2");
    body.chunk("TAGS", tags);
    body.chunk("LAYR", layr);
    body.chunk("PNTS", pnts);
    body.chunk("VMAP", txuv);
    body.chunk("POLS", pols);
    body.chunk("PTAG", ptag);
    body.chunk("SURF", surfA);
    body.chunk("SURF", surfB);
    file.id("FORM");
    file.u4((unsigned)body.data.size());
    file.data += body.data;
    return file.data;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main()
{
    diagnosticsLevel = 0;
    const std::string bytes = makeObject();
    std::printf("object: %zu bytes\n", bytes.size());
    double ours = 1e9, theirs = 1e9;
    for (int r = 0; r < kRepetitions; ++r) {
        {
            MetaScene meta(nullptr, "bench.mts");
            auto* scene = new Scene(&meta);
            meta.scenes.push_back(scene);
            MemoryStream stream("grid.lwo", bytes);
            const auto start = std::chrono::steady_clock::now();
            stream.open("grid.lwo");
            stream.seek(12);
            LWObject* object = loadLWO2(scene, &stream, "grid.lwo");
            delete object;
            ours = std::min(ours, seconds(start));
            if (!object)
                return 1;
        }
        {
            const auto start = std::chrono::steady_clock::now();
            const aiScene* scene = aiImportFileFromMemory(bytes.data(), (unsigned)bytes.size(), 0, "lwo");
            const bool ok = scene && scene->mNumMeshes > 0;
            aiReleaseImport(scene);
            theirs = std::min(theirs, seconds(start));
            if (!ok)
                return 1;
        }
    }
    std::printf("loadLWO2: %.2f ms\n", ours * 1e3);
    std::printf("aiImportFileFromMemory: %.2f ms\n", theirs * 1e3);
    std::printf("ratio=%.3f\n", ours / theirs);
    return 0;
}

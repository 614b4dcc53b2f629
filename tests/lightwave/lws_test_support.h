// Scene files in memory for the scene reader's and writer's tests.
#pragma once

#include "foundation/memory_stream.h"
#include "lightwave/lws_reader.h"
#include "scene/scene.h"

#include "file_bytes.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace lwstest {

inline const char* kPackageDir = "/usr/share/assimp/models/LWS/";

inline std::string readFile(const std::string& path)
{
    return fileBytes(path);
}

class Progress : public LoadingProgress {
public:
    std::vector<float> fractions;
    void drawLoadingProgress(float f) override { fractions.push_back(f); }
};

// Loads text as "t.lws" into scene, with files beside it.
inline bool loadText(Scene& scene, const std::string& text, MemoryStream* files = nullptr,
                     LoadingProgress* progress = nullptr, float start = 0.0f, float share = 0.0f)
{
    MemoryStream own;
    MemoryStream& stream = files ? *files : own;
    stream.files["t.lws"] = text;
    return loadLWS("t.lws", &scene, &stream, progress, start, share);
}

inline std::string lws(const std::string& body) { return "LWSC\n3\n" + body + "\n"; }

// One envelope block of constant value v.
inline std::string constant(double v)
{
    return "{ Envelope\n 1\n Key " + std::to_string(v) + " 0 0 0 0 0 0 0 0\n Behaviors 1 1\n}\n";
}

} // namespace lwstest

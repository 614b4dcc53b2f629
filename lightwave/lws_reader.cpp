// The scene-file reader's smallest form until the reader itself lands: it
// names the scene and checks that the file opens, and reads nothing, so a
// metascript that names scenes does not load yet.
#include "lightwave/lws_reader.h"

#include "foundation/log.h"
#include "foundation/stream.h"
#include "scene/scene.h"

#include <cstring>

bool loadLWS(const char* fileName, Scene* scene, Stream* stream, LoadingProgress*, float, float)
{
    delete[] scene->name;
    const size_t nameLength = std::strlen(fileName);
    scene->name = new char[nameLength + 1];
    std::memcpy(scene->name, fileName, nameLength + 1);
    if (stream == nullptr || !stream->open(fileName)) {
        logStream << "File not found!" << std::endl;
        return false;
    }
    stream->close();
    return false;
}

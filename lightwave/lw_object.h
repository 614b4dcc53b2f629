// A loaded object file of a metascene: its meshes by layer number and its
// surface tag table, filled by the object reader (lwo2_reader.h).
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "scene/mesh_file.h"

#include <vector>

class Mesh;
class Scene;
class Stream;
class MetaScene;

// The owner (a metascene), the surface tag table and loadTextures come
// with MeshFile, the part the meshes see.
class LWObject : public MeshFile {
public:
    String fileName;            // as passed to the reader; lookups compare it
    std::vector<Mesh*> layers;  // by layer number; null where no layer or mesh; owned
    std::vector<void*> further; // nothing fills it

    LWObject(MetaScene* owner, const char* fileName);
    // Deletes every mesh, then MeshFile the tag array (not the surfaces).
    ~LWObject();
    LWObject(const LWObject&) = delete;

    // The mesh of one layer (the LAYR number) of the file, read or reused
    // through MetaScene::loadLwo. A layer the file lacks, or that has no
    // mesh, shows "%d is not a valid layer number for %s!\n" and gives null.
    static Mesh* layer(const char* fileName, i32 layerIndex, Scene* scene, Stream* fileSource);
    LWObject& operator=(const LWObject&) = delete;
};

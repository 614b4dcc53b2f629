// The object file a mesh was read from, as the scene graph sees it: the
// group that loaded it and its surface tag table. The object reader's
// record (lightwave/lw_object.h) is the one kind; the scene library sits
// below it and reaches it only through this part.
#pragma once

#include "foundation/types.h"

class SceneGroup;
class Surface;

class MeshFile {
public:
    SceneGroup* owner;
    i32 tagCount = 0;
    Surface** tags = nullptr; // owned array; the surfaces belong to the group
    u8 texturesBuilt = 0;

    // With build set and not done yet, builds the texture of every layer of
    // the file's surfaces that has one; marks them done either way.
    void loadTextures(bool build);

    MeshFile(const MeshFile&) = delete;
    MeshFile& operator=(const MeshFile&) = delete;

protected:
    explicit MeshFile(SceneGroup* owner) : owner(owner) {}
    // Deletes the tag array (not the surfaces).
    ~MeshFile() { delete[] tags; }
};

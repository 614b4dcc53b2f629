#include "lightwave/lw_object.h"

#include "scene/mesh.h"

LWObject::LWObject(MetaScene* owner, const char* fileName) : owner(owner), fileName(fileName) {}

LWObject::~LWObject()
{
    for (Mesh* mesh : layers)
        delete mesh;
    delete[] tags;
}

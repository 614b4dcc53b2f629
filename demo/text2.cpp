#include "demo/text2.h"

#include "foundation/envelope.h"
#include "lightwave/meta_scene.h"
#include "materials/envelope_owner.h"
#include "materials/surface.h"
#include "scene/camera.h"
#include "scene/mesh.h"
#include "scene/mesh_file.h"
#include "scene/object.h"
#include "scene/scene.h"

#include <algorithm>
#include <cfloat>
#include <memory>

namespace {

constexpr const char* kFontFile = "font.lwo";

// The letter's layer of the font file as a new object of scene; null when
// the file or the layer cannot be had.
Object* addLetter(Scene* scene, Stream* archive, i32 layer)
{
    return archive ? scene->addObjectLayer(archive, kFontFile, layer) : nullptr;
}

// The first surface of the object file the mesh came from, or null.
Surface* firstSurface(const Mesh* mesh)
{
    const MeshFile* file = mesh ? mesh->object : nullptr;
    if (!file || !file->tags)
        return nullptr;
    for (i32 i = 0; i < file->tagCount; ++i)
        if (file->tags[i])
            return file->tags[i];
    return nullptr;
}

} // namespace

i32 letterIndex(char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' : -1;
}

namespace {

// The camera looks at the middle of the letters' boxes, so any text
// stands centred whatever its length; without letters it stays on the axis.
void centreCamera(Scene* scene, Camera* camera)
{
    float lo[2] = {FLT_MAX, FLT_MAX}, hi[2] = {-FLT_MAX, -FLT_MAX};
    for (Object* o : scene->objects) {
        if (!o->mesh || !o->mesh->bboxused)
            continue;
        const D3DVECTOR& min = o->mesh->boxCorners[0];
        const D3DVECTOR& max = o->mesh->boxCorners[7];
        lo[0] = std::min(lo[0], o->channels[0].value + min.x);
        hi[0] = std::max(hi[0], o->channels[0].value + max.x);
        lo[1] = std::min(lo[1], o->channels[1].value + min.y);
        hi[1] = std::max(hi[1], o->channels[1].value + max.y);
    }
    if (lo[0] > hi[0])
        return;
    camera->channels[0].value = 0.5f * (lo[0] + hi[0]);
    camera->channels[1].value = 0.5f * (lo[1] + hi[1]);
}

} // namespace

Text2::Text2(const char* text, Stream* archive, MetaScene* meta)
{
    scene = new Scene(meta);
    Camera* camera = scene->addCamera();
    camera->channels[2].value = -10.0f;
    scene->addLight();
    if (!text)
        return;
    EnvelopeOwner* envelopes = nullptr;
    for (i32 i = 0; text[i]; ++i) {
        const i32 layer = letterIndex(text[i]);
        if (layer < 0)
            continue; // a gap of one letter
        Object* letter = addLetter(scene, archive, layer);
        if (!letter)
            continue;
        letter->channels[0].value = float(i) * 0.5f - 4.0f;
        Surface* surface = firstSurface(letter->mesh);
        if (!surface || !meta)
            continue;
        // The metascene's envelopes outlive its surfaces.
        if (!envelopes) {
            meta->envelopeOwners.push_back(std::make_unique<EnvelopeOwner>());
            envelopes = meta->envelopeOwners.back().get();
        }
        Envelope* fade = envelopes->create();
        fade->addLinearKey(0.0f, 1.0f);
        fade->addLinearKey(1.0f, 0.0f);
        fade->addLinearKey(10.0f, 0.0f);
        fade->addLinearKey(11.0f, 1.0f);
        fade->preBehavior = Envelope::behaviorConstant;
        fade->postBehavior = Envelope::behaviorConstant;
        // The letters share the font's surface: the last one's envelope
        // drives them all.
        surface->transparency.source = fade;
    }
    centreCamera(scene, camera);
}

Text2::~Text2()
{
    delete scene;
}

Scene* Text2::releaseScene()
{
    Scene* handed = scene;
    scene = nullptr;
    return handed;
}

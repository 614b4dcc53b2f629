#include "scene/hv_object.h"

#include "foundation/diagnostics.h"
#include "materials/texture_layer.h"
#include "scene/node.h"

namespace {

void deleteSource(AnimatedValue& v)
{
    delete v.source;
    v.source = nullptr;
}

} // namespace

HVObject::~HVObject()
{
    for (AnimatedValue* v : {&dissolve, &particleSize, &sizeVariation, &luminosity, &opacity, &density, &color[0],
                             &color[1], &color[2], &unread, &nearClip, &stretchAmount, &textureAmplitude})
        deleteSource(*v);
    // The layers' textures belong to the metascene; their envelopes to us.
    for (TextureLayer* layer : textureLayers) {
        deleteSource(layer->opacity);
        for (int i = 0; i < 3; ++i) {
            deleteSource(layer->center[i]);
            deleteSource(layer->size[i]);
            deleteSource(layer->rotation[i]);
        }
        delete layer;
    }
}

const D3DMATRIX& HVObject::cameraProjection(Node* camera)
{
    const bool pmXYZWcalced = camera->depthFitted != 0;
    ENGINE_ASSERT(pmXYZWcalced);
    return camera->projection;
}

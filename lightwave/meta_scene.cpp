#include "lightwave/meta_scene.h"

#include "foundation/script_tokenizer.h"
#include "lightwave/lw_object.h"
#include "lightwave/lwo2_reader.h"
#include "lightwave/lws_reader.h"
#include "materials/engine.h"
#include "materials/envelope_owner.h"
#include "materials/surface.h"
#include "materials/texture.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <windows.h>

#include <cstring>

MetaScene::MetaScene(Engine* engine, const char* name) : SceneGroup(engine), name(name) {}

MetaScene::~MetaScene() { freeAll(); }

void MetaScene::freeAll()
{
    // The user camera's pick may point into these scenes.
    resetInteraction(engine, this);
    for (Texture* texture : textures)
        delete texture;
    for (Surface* surface : surfaces)
        delete surface;
    for (LWObject* object : lwObjects)
        delete object;
    for (Scene* scene : scenes)
        delete scene;
    // Surfaces and textures pointed at these envelopes: they go last.
    envelopeOwners.clear();
    textures.clear();
    textureIndex.clear();
    texturesIndexed = 0;
    surfaces.clear();
    surfaceIndex.clear();
    surfacesIndexed = 0;
    lwObjects.clear();
    scenes.clear();
    renderTargetLayers.clear();
}

std::vector<String> MetaScene::metascriptEntries(ScriptTokenizer& script)
{
    std::vector<String> entries;
    int line = 0;
    int wordOnLine = 0;
    while (!script.atEnd()) {
        const int here = script.lineNumber();
        const char* word = script.nextToken();
        if (here != line) {
            line = here;
            wordOnLine = 0;
        }
        if (wordOnLine++ % 2 == 0)
            entries.emplace_back(word);
    }
    return entries;
}

namespace {

// The first item named text, through an index of the names over
// items[0, indexed) that grows with the items. A hit on an item replaced or
// renamed since it was indexed is searched for, and indexed anew on the next
// call.
template <class Item>
Item* findIndexed(const std::vector<Item*>& items, std::unordered_map<std::string, size_t>& index, size_t& indexed,
                  const char* text)
{
    if (indexed > items.size()) {
        index.clear();
        indexed = 0;
    }
    for (; indexed < items.size(); ++indexed)
        if (const Item* item = items[indexed])
            index.emplace(item->name.c_str(), indexed);
    const auto at = index.find(text);
    if (at == index.end())
        return nullptr;
    if (at->second < items.size() && items[at->second] && std::strcmp(items[at->second]->name.c_str(), text) == 0)
        return items[at->second];
    index.clear();
    indexed = 0;
    for (Item* item : items)
        if (item && std::strcmp(item->name.c_str(), text) == 0)
            return item;
    return nullptr;
}

} // namespace

MetaScene* MetaScene::loadMetascript(const char* name, Engine* engine, Stream* stream,
                                     LoadingProgress* progressTarget)
{
    ScriptTokenizer script(stream);
    // A metascript that cannot be read is a failed load, not an empty metascene.
    if (!script.load(name))
        return nullptr;
    auto* meta = new MetaScene(engine, name);
    const std::vector<String> entries = metascriptEntries(script);
    const float n = float(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        auto* scene = new Scene(meta);
        if (!loadLWS(entries[i].c_str(), scene, stream, progressTarget, 0.4f * float(i) / n, 0.4f / n)) {
            // Nothing refers to a metascript that failed: free it whole (its
            // objects take the sounds they started with them).
            delete scene;
            meta->clear();
            delete meta;
            return nullptr;
        }
        meta->scenes.push_back(scene);
    }
    return meta;
}

Scene* MetaScene::findScene(const char* text) const
{
    const size_t n = std::strlen(text);
    for (Scene* scene : scenes)
        if (scene && scene->name && _strnicmp(scene->name, text, n) == 0)
            return scene;
    return nullptr;
}

Surface* MetaScene::findSurface(const char* text) const
{
    // A few surfaces, as content has, are quicker searched than hashed.
    if (surfaces.size() <= 32) {
        for (Surface* surface : surfaces)
            if (surface && std::strcmp(surface->name.c_str(), text) == 0)
                return surface;
        return nullptr;
    }
    return findIndexed(surfaces, surfaceIndex, surfacesIndexed, text);
}

LWObject* MetaScene::findLwo(const char* text) const
{
    for (LWObject* object : lwObjects)
        if (object && std::strcmp(object->fileName.c_str(), text) == 0)
            return object;
    return nullptr;
}

Texture* MetaScene::findTexture(const char* text, u32 flags) const
{
    Texture* found = findIndexed(textures, textureIndex, texturesIndexed, text);
    if (found)
        found->flags |= flags;
    return found;
}

LWObject* MetaScene::loadLwo(const char* fileName, Scene* scene, Stream* fileSource)
{
    if (!scene || !scene->metaScene || !fileName)
        return nullptr;
    MetaScene* meta = metaSceneOf(scene->metaScene);
    if (LWObject* object = meta->findLwo(fileName))
        return object;
    LWObject* object = openLWO2(fileSource, fileName, scene);
    if (object)
        meta->lwObjects.push_back(object);
    return object;
}

void MetaScene::prepare(LoadingProgress* progressTarget)
{
    const size_t n = textures.size();
    for (size_t i = 0; i < n; ++i) {
        if (progressTarget)
            progressTarget->drawLoadingProgress(0.4f + 0.5f * float(i) / float(n));
        textures[i]->load();
        textures[i]->preload();
    }
    for (LWObject* object : lwObjects)
        if (object)
            object->texturesBuilt = 1;
    const size_t count = scenes.size();
    for (size_t i = 0; i < count; ++i)
        scenes[i]->finishLoading(progressTarget, 0.9f + 0.1f * float(i) / float(count), 0.1f / float(count));
    if (progressTarget)
        progressTarget->drawLoadingProgress(1.0f);
}

std::vector<Scene*> MetaScene::scenesToRender(bool userCamera) const
{
    std::vector<Scene*> chosen;
    if (userCamera && engine && engine->interactionTarget) {
        for (Scene* scene : scenes)
            if (scene == engine->interactionTarget)
                chosen.push_back(scene);
        if (!chosen.empty())
            return chosen;
    }
    for (Scene* scene : scenes)
        if (scene && scene->active) {
            chosen.push_back(scene);
            if (userCamera)
                break;
        }
    return chosen;
}

void MetaScene::update(bool clearTarget, i32 mode, double time)
{
    IDirect3DDevice9* device = engine->currentDevice;
    engine->drawCalls = 0;
    engine->primitivesDrawn = 0;
    device->BeginScene();
    const bool userCamera = engine->interaction && engine->interaction->currentCamera;
    const std::vector<Scene*> chosen = scenesToRender(userCamera);
    for (Scene* scene : chosen)
        scene->render(clearTarget, mode, time);

    D3DVIEWPORT9 viewport = {0, 0, DWORD(engine->width), DWORD(engine->height), 0.0f, 1.0f};
    if (engine->backBuffer) {
        D3DSURFACE_DESC desc = {};
        engine->backBuffer->GetDesc(&desc);
        viewport.Width = desc.Width;
        viewport.Height = desc.Height;
    }
    device->SetViewport(&viewport);
    if (chosen.empty()) {
        DWORD flags = D3DCLEAR_ZBUFFER;
        if (clearTarget)
            flags |= D3DCLEAR_TARGET;
        if (engine->depthHasFirstChannel)
            flags |= D3DCLEAR_STENCIL;
        device->Clear(0, nullptr, flags, 0, 1.0f, 0);
    }
    device->EndScene();
    ++engine->framesRendered;
}

void MetaScene::clear()
{
    if (engine) {
        if (IDirect3DDevice9* device = engine->currentDevice)
            for (DWORD stage = 0; stage < engine->caps.MaxSimultaneousTextures; ++stage)
                device->SetTexture(stage, nullptr);
        // The user camera must not keep pointing into scenes freed here.
        for (Scene* scene : scenes)
            if (engine->interactionTarget == scene)
                engine->interactionTarget = nullptr;
    }
    freeAll();
    name = String();
}

void resetRenderStates(Engine* engine)
{
    IDirect3DDevice9* device = engine->currentDevice;
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_ZENABLE, TRUE},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_CLIPPING, TRUE},
        {D3DRS_COLORVERTEX, TRUE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_NORMALIZENORMALS, TRUE},
    };
    for (const auto& [state, value] : states)
        device->SetRenderState(state, value);
    for (DWORD stage = 0; stage < engine->caps.MaxTextureBlendStages; ++stage) {
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP);
        device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        device->SetTextureStageState(stage, D3DTSS_RESULTARG, D3DTA_CURRENT);
    }
}

// The player's keys and the user camera, once per active pass of the main
// loop after the message pump: single presses are cleared from the key
// table once handled, held keys (movement) stay.
#include "demo/demo.h"
#include "demo/script_events.h"
#include "demo/text.h"
#include "demo/user_camera.h"
#include "lightwave/meta_scene.h"
#include "materials/engine.h"
#include "materials/generated_textures.h"
#include "media/frame_grabber.h"
#include "media/input.h"
#include "scene/anti_portal.h"
#include "scene/camera.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"
#include "scene/scene_interaction.h"

#include <dinput.h>
#include <windows.h>

double lastTick = 0.0;
float lookX = 0.0f;
float lookY = 0.0f;
i32 screenshotNumber = 0;
i32 lastKeysetIndex = -1;

namespace {

// A single press: true once, the key is cleared.
bool takeKey(Input* input, int code)
{
    if (!input->keys[code])
        return false;
    input->keys[code] = 0;
    return true;
}

Scene* firstScene(MetaScene* meta)
{
    return meta && !meta->scenes.empty() ? meta->scenes[0] : nullptr;
}

Scene* firstActiveScene(MetaScene* meta)
{
    if (!meta)
        return nullptr;
    for (Scene* scene : meta->scenes)
        if (scene && scene->active)
            return scene;
    return nullptr;
}

void setFogEnd(Scene* scene, float end)
{
    scene->fogEnd = end;
    scene->fogStart = end - end / 3.0f;
}

Object* ghostOf(Engine::SceneInteraction* interaction)
{
    return interaction->objects.size() > 1 ? interaction->ghost() : nullptr;
}

// The user camera takes the place of the scene camera it replaces; without
// one it keeps its last placement.
void takeSceneCameraPlace(Demo& demo)
{
    Engine* engine = demo.engine;
    Engine::SceneInteraction* interaction = engine->interaction;
    Camera* sceneCamera = nullptr;
    double t = 0.0;
    if (engine->interactionTarget) {
        sceneCamera = engine->interactionTarget->currentCamera;
    } else if (Scene* scene = firstActiveScene(demo.activeMeta)) {
        sceneCamera = scene->currentCamera;
        t = scene->held ? scene->timeBase : demo.time - scene->timeBase;
    }
    if (!sceneCamera || interaction->objects.empty() || interaction->cameras.empty())
        return;
    const D3DMATRIX& world = *sceneCamera->worldMatrixAt(t);
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    const float position[3] = {world._41, world._42, world._43};
    Camera* camera = interaction->camera();
    Node* cursorObject = interaction->cursor();
    camera->setPositionClamped(origin);
    cursorObject->setPositionClamped(position);
    const Orientation o = sceneCamera->orientationAt(t);
    cursorObject->channels[kHeading].value = o.heading;
    cursorObject->channels[kPitch].value = -o.elevation;
    cursorObject->channels[kBank].value = -o.roll;
    camera->zoom.value = sceneCamera->zoom.valueAt(t);
    camera->invalidate();
    cursorObject->invalidate();
}

void switchUserCamera(Demo& demo, bool ctrl)
{
    Engine::SceneInteraction* interaction = demo.engine->interaction;
    if (!interaction || interaction->cameras.empty())
        return;
    const bool examining = interaction->selected != nullptr;
    const bool modeChangeOnly = interaction->currentCamera && examining != ctrl;
    if (!modeChangeOnly) {
        if (interaction->currentCamera) {
            interaction->currentCamera = nullptr;
        } else {
            interaction->currentCamera = interaction->cameras[0];
            userCamSpeed = 0.006f;
            userCamShiftSpeed = 0.008f;
            takeSceneCameraPlace(demo);
        }
    }
    if (!interaction->currentCamera)
        return;
    interaction->selected = ctrl ? ghostOf(interaction) : nullptr;
    if (demo.modeTexture)
        createFontTexture(demo.modeTexture, interaction->selected ? "Examine&Edit Mode" : "Free-Flight Mode",
                          demo.fontImage);
}

void flyUserCamera(Demo& demo, Input* input, bool ctrl, double dt)
{
    Engine* engine = demo.engine;
    Engine::SceneInteraction* interaction = engine->interaction;
    const u8* keys = input->keys;
    if (interaction->selected && !input->buttons[1])
        interaction->selected = ghostOf(interaction);
    interaction->active = (interaction->selected != nullptr || ctrl) ? 1 : 0;

    if (keys[DIK_COMMA]) {
        userCamSpeed *= 0.9090909090909091f;
        userCamShiftSpeed *= 0.9090909090909091f;
    }
    if (keys[DIK_PERIOD]) {
        userCamSpeed *= 1.1f;
        userCamShiftSpeed *= 1.1f;
    }
    const double v = (keys[DIK_LSHIFT] || keys[DIK_RSHIFT]) ? userCamShiftSpeed : userCamSpeed;
    const float d = float(v * dt);
    const double t = demo.time;
    if (keys[DIK_A])
        engine->moveCamera(-d, 0.0f, 0.0f, t);
    if (keys[DIK_D])
        engine->moveCamera(d, 0.0f, 0.0f, t);
    if (keys[DIK_R])
        engine->moveCamera(0.0f, d, 0.0f, t);
    if (keys[DIK_F])
        engine->moveCamera(0.0f, -d, 0.0f, t);
    const bool examined = interaction->selected != nullptr;
    if (keys[DIK_W] || (input->buttons[0] && !examined)) {
        if (ctrl) {
            engine->changeSpeed(-d, t);
            engine->moveCamera(0.0f, 0.0f, 2.0f * d, t);
        } else {
            engine->moveCamera(0.0f, 0.0f, d, t);
        }
    }
    if (keys[DIK_S] || (input->buttons[1] && !examined)) {
        if (ctrl) {
            engine->changeSpeed(d, t);
            engine->moveCamera(0.0f, 0.0f, -2.0f * d, t);
        } else {
            engine->moveCamera(0.0f, 0.0f, -d, t);
        }
    }
}

void lookWithMouse(Demo& demo, Input* input, bool ctrl)
{
    Engine* engine = demo.engine;
    Engine::SceneInteraction* interaction = engine->interaction;
    const double t = demo.time;
    const float mx = float(input->dx) * 0.01f;
    const float my = float(input->dy) * 0.01f;
    const float w = float(-input->wheel) * (1.0f / 300.0f);
    lookX = lookX * 0.25f + mx * 0.75f;
    lookY = lookY * 0.25f + my * 0.75f;
    const float z = interaction->camera()->channels[kPositionZ].valueAt(t) * -0.25f;
    const bool examined = interaction->selected != nullptr;
    const bool left = input->buttons[0] != 0;
    const bool right = input->buttons[1] != 0;
    const bool middle = input->buttons[2] != 0;
    if ((ctrl || examined) && (w != 0.0f || middle)) {
        engine->changeSpeed(-(w != 0.0f ? w : my) * (z + 0.25f), t);
    } else if (examined) {
        if (left == right) {
            engine->turnCamera(lookX, (left && right && !ctrl) ? 0.0f : lookY, 0.0f, t);
        } else if (ctrl) {
            engine->changeSpeed(my, t);
            engine->moveCamera(z * mx, 0.0f, -2.0f * my, t);
        } else {
            engine->moveCamera(z * mx, -z * my, 0.0f, t);
        }
    } else if (w != 0.0f) {
        engine->moveCamera(mx, -w, 0.0f, t);
    } else if (middle) {
        engine->moveCamera(mx, -my, 0.0f, t);
    } else if (left && right) {
        engine->moveCamera(mx, 0.0f, -my, t);
    } else {
        engine->turnCamera(lookX, lookY, 0.0f, t);
    }
}

} // namespace

void Demo::updateUserCamera(Input* in)
{
    if (!in)
        return;
    const double now = double(GetTickCount());
    if (keysetIndex != lastKeysetIndex) {
        if (text) {
            text->clear();
            if (keysetIndex >= -1 && keysetIndex <= 7)
                text->update(keysetIndex + 1);
        }
        lastKeysetIndex = keysetIndex;
    }

    if (takeKey(in, DIK_ESCAPE))
        quit = 1;
    if (takeKey(in, DIK_Q))
        engine->wireframe = !engine->wireframe;
    // Fog keys need a scene to act on; before any metascene they do nothing.
    if (takeKey(in, DIK_HOME))
        if (Scene* scene = firstScene(activeMeta))
            setFogEnd(scene, scene->fogEnd + 5.0f);
    if (takeKey(in, DIK_END))
        if (Scene* scene = firstScene(activeMeta))
            setFogEnd(scene, scene->fogEnd - 5.0f <= 5.0f ? 5.0f : scene->fogEnd - 5.0f);

    const bool ctrl = in->keys[DIK_LCONTROL] || in->keys[DIK_RCONTROL];
    if (takeKey(in, DIK_SPACE))
        switchUserCamera(*this, ctrl);

    Engine::SceneInteraction* interaction = engine->interaction;
    const bool userCamera = interaction && interaction->currentCamera && !interaction->cameras.empty() &&
                            !interaction->objects.empty();
    if (userCamera)
        flyUserCamera(*this, in, ctrl, now - lastTick);
    if (in->keys[DIK_RMENU])
        speed = double(in->dx);
    else if (userCamera)
        lookWithMouse(*this, in, ctrl);

    if (takeKey(in, DIK_U)) {
        ++screenshotNumber;
        if (grabber)
            grabber->writeBmpFrame("screen", screenshotNumber);
    }
    const bool statisticsKey = takeKey(in, DIK_P);
    if (takeKey(in, DIK_MULTIPLY) || statisticsKey)
        showStatistics = !showStatistics;
    if (takeKey(in, DIK_X))
        mirrorStencil = mirrorStencil != 1;
    if (takeKey(in, DIK_C))
        engine->debugToggle1 = !engine->debugToggle1;
    if (takeKey(in, DIK_V))
        engine->debugToggle2 = !engine->debugToggle2;
    if (takeKey(in, DIK_B))
        engine->debugToggle3 = !engine->debugToggle3;
    if (takeKey(in, DIK_RIGHT))
        speed += 0.5;
    if (takeKey(in, DIK_LEFT))
        speed -= 0.5;
    if (takeKey(in, DIK_DOWN))
        speed = 0.0;
    if (takeKey(in, DIK_UP))
        speed = 1.0;

    const i32 key = in->lastKey;
    in->lastKey = 255;
    if (key >= DIK_1 && key <= DIK_0) {
        const u64 digit = key == DIK_0 ? 0 : u64(key - DIK_1 + 1);
        // A negative camera group must not index below the first camera.
        const i64 index = i64(cameraGroup) * 10 + i64(digit);
        Scene* scene = firstScene(activeMeta);
        if (scene && index >= 0 && u64(index) < scene->cameras.size())
            scene->currentCamera = scene->cameras[size_t(index)];
        engine->lensReference = 100.0f;
    } else if (key == DIK_NUMPAD1) {
        engine->lensReference = 100.0f;
    } else if (key == DIK_NUMPAD2) {
        engine->lensReference = 160.0f;
    } else if (key == DIK_NUMPAD3) {
        engine->lensReference = 320.0f;
    }
    lastTick = now;
}

// The user camera's moves on the scene interaction: distance along the
// camera's axis, turning and moving the cursor object that carries it.
#include "foundation/matrix.h"
#include "scene/anti_portal.h"
#include "scene/camera.h"
#include "scene/scene_interaction.h"

#include <algorithm>

namespace {

constexpr float kHalfPi = 1.5707963705062866f;

Object* ghostOf(Engine::SceneInteraction* interaction)
{
    return interaction->objects.size() > 1 ? interaction->ghost() : nullptr;
}

// The examined object, unless it is the ghost itself (a pick request).
Object* examinedObject(Engine::SceneInteraction* interaction)
{
    Object* ghost = ghostOf(interaction);
    return interaction->selected && interaction->selected != ghost ? interaction->selected : nullptr;
}

} // namespace

void Engine::changeSpeed(float delta, double t)
{
    if (!interaction || interaction->cameras.empty())
        return;
    AnimatedValue& z = interaction->camera()->channels[kPositionZ];
    const float current = z.source ? z.valueAt(t) : z.value;
    z.value = std::min(current + delta, 0.0f);
    interaction->camera()->invalidate();
}

void Engine::turnCamera(float dHeading, float dElevation, float dRoll, double t)
{
    if (!interaction || interaction->objects.empty())
        return;
    Node* node = examinedObject(interaction) ? static_cast<Node*>(ghostOf(interaction)) : interaction->cursor();
    if (!node)
        return;
    const Orientation o = node->orientationAt(t);
    const float heading = o.heading + dHeading;
    float elevation = o.elevation - dElevation;
    if (dElevation < 0.0f)
        elevation = std::min(elevation, kHalfPi);
    else if (dElevation > 0.0f)
        elevation = std::max(elevation, -kHalfPi);
    const float roll = o.roll - dRoll;
    node->channels[kHeading].value = heading;
    node->channels[kPitch].value = -elevation;
    node->channels[kBank].value = -roll;
    node->invalidate();
}

void Engine::moveCamera(float dx, float dy, float dz, double t)
{
    if (!interaction || interaction->objects.empty())
        return;
    Node* cursorObject = interaction->cursor();
    const D3DMATRIX& world = *cursorObject->worldMatrixAt(t);
    const float step[3] = {dx, dy, dz};
    D3DVECTOR move = {0.0f, 0.0f, 0.0f};
    for (int row = 0; row < 3; ++row) {
        D3DVECTOR axis = {world.m[row][0], world.m[row][1], world.m[row][2]};
        vecNormalize(axis); // a zero row stays zero
        move.x += step[row] * axis.x;
        move.y += step[row] * axis.y;
        move.z += step[row] * axis.z;
    }
    const float delta[3] = {move.x, move.y, move.z};
    cursorObject->moveClamped(delta);
    cursorObject->invalidate();

    Object* examined = examinedObject(interaction);
    Node* ghost = ghostOf(interaction);
    if (!examined || !ghost)
        return;
    if (examined->parent)
        vecTransformNormal(move, *examined->parent->getInvMatrix(t));
    const float ghostDelta[3] = {move.x, move.y, move.z};
    ghost->moveClamped(ghostDelta);
    ghost->invalidate();
}

// The lens-flare pass that ends every scene pass: the flares of this scene's
// lights, seen from camera.
#include "scene/lens_flare.h"
#include "scene/scene.h"

void Scene::renderFlares(Node* camera, double t)
{
    LensFlare::renderFlares(lights, camera, t);
}

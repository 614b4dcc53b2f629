// Smallest form of the lens-flare pass until lens flares land: no light has
// a flare record, so there is nothing to draw.
#include "scene/scene.h"

void Scene::renderFlares(Node*, double) {}

// Smallest form of the shadow-map pass and its debug view until they land
// with the mirrors: no map is drawn, the quad is not shown.
#include "scene/scene.h"

void Scene::renderShadowMaps(double) {}

void Scene::showShadowMap(IDirect3DTexture9*) {}

// Everything the demo player draws over the rendered scenes: pre-transformed
// screen quads for the fades, the logos and frame-rate digits, the mode name
// and the loading screen with its progress bar.
#pragma once

#include "foundation/types.h"

class Demo;
class Engine;
class ImageTexture;
class Texture;
class IDirect3DDevice9;

// The loading screen: picture (null when none), bar rectangle as fractions
// of the back buffer, bar colour and a back colour that is kept, not drawn.
extern ImageTexture* loadingPicture;
extern float progressRect[4];
extern u32 progressColor;
extern u32 progressBackColor;

// A quad over the given pixel box on the engine's current device, all corners in
// colour, textured with texture (at time 0) or untextured.
void drawScreenQuad(Engine* engine, float left, float top, float right, float bottom, const float colour[4], Texture* texture);
// Stage 0 shows the picture's colour and alpha, at its own coordinates;
// stage 1 is off.
void selectPictureStages(IDirect3DDevice9* device);
// A blended quad over the whole back buffer; intensity replaces the colour's
// alpha. Without a texture the colour alone shows.
void drawFullScreenQuad(Engine* engine, float intensity, const float colour[4], Texture* texture);
// Advances the fade state machine and draws the fade of one view.
void updateFade(Demo* demo);
void drawLogosAndFps(Demo* demo);
// The interaction has a current camera: the user steers the view.
bool userCameraActive(const Engine* engine);

// What the script's events set besides the demo and the engine: the user
// camera's movement speeds.
#pragma once

extern float userCamSpeed;      // default 0.006
extern float userCamShiftSpeed; // default 0.008

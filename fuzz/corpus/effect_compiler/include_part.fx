#include "part.fxh"
float after;
/* #include "none" */
static const int k = 3;
float4 x : register(c3) = {1,2,3,4};

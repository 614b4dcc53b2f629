// Shadow maps: only the light-space depth of what casts shadows. With a
// depth-texture format the colour writes are off and only the depth buffer
// counts; otherwise the colour carries the depth (encodeDepth), which
// standard.fx decodes.
#include "common.fxh"

struct DepthOut {
    float4 position : POSITION;
    float2 depth : TEXCOORD0; // z and w, divided per pixel
};

DepthOut vshader(SurfaceVertex v)
{
    DepthOut o;
    float3 p = skinnedPoint(v.position, v.boneIndices, v.boneWeights);
    o.position = clipPosition(p);
    o.depth = o.position.zw;
    return o;
}

float4 pshader(float2 depth : TEXCOORD0) : COLOR0
{
    return encodeDepth(depth.x / depth.y);
}

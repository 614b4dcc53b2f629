// Shadow maps: only the light-space depth of what casts shadows. With a
// depth-texture format the colour writes are off and only the depth buffer
// counts; otherwise the colour carries the depth along the light's axis
// (encodeDepth), which standard.fx and bake.fx decode.
#include "common.fxh"

struct DepthOut {
    float4 position : POSITION;
    float depth : TEXCOORD0; // light-space depth, linear across a triangle
};

DepthOut vshader(SurfaceVertex v)
{
    DepthOut o;
    float3 p = skinnedPoint(v.position, v.boneIndices, v.boneWeights);
    o.position = clipPosition(p);
    o.depth = mul(float4(p, 1), matWorldView).z;
    return o;
}

float4 pshader(float depth : TEXCOORD0) : COLOR0
{
    return encodeDepth(depth);
}

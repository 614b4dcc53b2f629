// The depth reset inside a flat mirror: drawn over the stencilled mirror
// pixels with the depth test off, it pushes their depth to the far plane so
// the reflection draws there. Colour counts for nothing (DESTBLEND ZERO
// keeps only this colour, which the reflection then covers). Reads the
// position only, so that every vertex layout fits.

float4x4 matWorldViewProj;

float4 vshader(float3 position : POSITION) : POSITION
{
    float4 clip = mul(float4(position, 1), matWorldViewProj);
    clip.z = clip.w;
    return clip;
}

float4 pshader() : COLOR0
{
    return float4(0, 0, 0, 0);
}

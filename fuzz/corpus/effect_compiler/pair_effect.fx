// test effect
int numShadows;
int pointLightFalloffType[8];
float4x4 matWorldViewProj;
float4x3 matWorldView;
float4x3 matBone[24];
float3 distantLightColor[8];
float time;
float4 srfColor;
float4 tint = {1, 1, 1, 1};

struct VsOut {
    float4 pos : POSITION;
    float4 colour : COLOR0;
};

VsOut vshader(float3 p : POSITION)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    float3 wv = mul(float4(1, 0, 0, 1), matWorldView);
    float3 bone = mul(float4(0, 1, 0, 1), matBone[1]);
    o.colour = float4(time, distantLightColor[2].y, wv.z, bone.x);
    return o;
}

float4 pshader(float4 c : COLOR0) : COLOR0
{
    if (numShadows == 1)
        return float4(1, 0, 0, 1);
    if (pointLightFalloffType[3] == 2)
        return float4(0, 1, 0, 1);
    return c * srfColor * tint;
}

// a small lit effect
float4x4 matWorldViewProj;
float3 lightColor[4];
int numLights;
bool useTexture;
float4 tint = {1, 0.5, 0.25, 1};
sampler2D COLR0 = sampler_state { MinFilter = Linear; };

struct VsOut {
    float4 pos : POSITION;
    float2 uv : TEXCOORD0;
    float4 colour : COLOR0;
};

VsOut vshader(float3 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    float3 c = 0;
    for (int i = 0; i < numLights ++i)
        c += lightColor[i];
    o.colour = float4(c, 1);
    o.uv = uv;
    return o;
}

float4 pshader(float2 uv : TEXCOORD0, float4 colour : COLOR0) : COLOR0
{
    float4 c = colour * tint;
    if (useTexture)
        c *= tex2D(COLR0, uv);
    return c;
}

technique Lit
{
    pass P0
    {
        VertexShader = compile vs_2_0 vshader();
        PixelShader = compile ps_2_0 pshader();
    }
}

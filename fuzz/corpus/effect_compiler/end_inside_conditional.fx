// a lit effect with the usual effect syntax
#define COUNT 4
float4x4 matWorldViewProj : WORLDVIEWPROJECTION;
float3 lightColor[COUNT] < string UIName = "colours; >"; >;
int numLights = 2;
bool useTexture = true, other;
row_major float4x3 bones[2] : register(c10);
float4 tint = float4(1, 0.5h, -.25f, 0x10);
texture diffuse < string file = "a.jpg"; >;
string note = "text";
sampler2D COLR0 = sampler_state { Texture = <diffuse>; MinFilter = Linear; AddressU = (Wrap); };
vector<float, 3> v;
struct VsOut { float4 pos : POSITION; float2 uv : TEXCOORD0; };
VsOut vshader(float3 p : POSITION, float2 uv : TEXCOORD0)
{
    VsOut o;
    o.pos = mul(float4(p, 1), matWorldViewProj);
    o.uv = uv;
    return o;
}
float4 pshader(float2 uv : TEXCOORD0) : COLOR0 { return useTexture ? tex2D(COLR0, uv) * tint :

float4x4 matWorldViewProj;
float4 srfColor;
float4 vshader(float3 p : POSITION) : POSITION { return mul(float4(p, 1), matWorldViewProj); }
float4 pshader() : COLOR0 { return srfColor; }

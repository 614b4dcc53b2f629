float4 pshader() : COLOR0 { return true ? 1 : x; }

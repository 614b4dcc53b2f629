float4 f0(float4 x) { return x * 1.5 + 0.25; }
float4 f1(float4 x) { return f0(x) + f0(x.yzwx); }
float4 f2(float4 x) { return f1(x) + f1(x.yzwx); }
float4 f3(float4 x) { return f2(x) + f2(x.yzwx); }
float4 f4(float4 x) { return f3(x) + f3(x.yzwx); }
float4 f5(float4 x) { return f4(x) + f4(x.yzwx); }
float4 f6(float4 x) { return f5(x) + f5(x.yzwx); }
float4 f7(float4 x) { return f6(x) + f6(x.yzwx); }
float4 f8(float4 x) { return f7(x) + f7(x.yzwx); }
float4 f9(float4 x) { return f8(x) + f8(x.yzwx); }
float4 f10(float4 x) { return f9(x) + f9(x.yzwx); }
float4 f11(float4 x) { return f10(x) + f10(x.yzwx); }
float4 f12(float4 x) { return f11(x) + f11(x.yzwx); }
float4 f13(float4 x) { return f12(x) + f12(x.yzwx); }
float4 f14(float4 x) { return f13(x) + f13(x.yzwx); }
float4 pshader(float4 c : COLOR0) : COLOR0 { return f14(c); }
float4 vshader(float4 p : POSITION) : POSITION { return f14(p); }

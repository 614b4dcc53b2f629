#define F(a) a a
float4 pshader() : COLOR0 { return F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(F(1)))))))))))))))))))))))))))))); }

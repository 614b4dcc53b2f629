#define F(a) a-a
uint g = 0(F(F(F(F(F(F(F(F(F(F(F(F(F)F(F(FVts;
struct VsOut {
    float4 coloVV(F(F(F())))))1))))(F(1))))))))))switch1,2,3,4,5,7};
uint g = 0(F(F(F(F(F(F(F(F(F(F(F(F(F(F(Fx)))+)1))))(F(1))))))))))uint g = 0(F(F(F(F(F(F(F(F(F(F(F(F(F)F(F(F(F(F(F())))U)))))))))))))))))))))))))))))))); }
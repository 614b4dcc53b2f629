#include "part.fxh"
float a;
#include <self.fxh>
float b;
int c[2] = {1, 2};
#include "part.fxh"

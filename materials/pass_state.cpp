#include "materials/pass_state.h"

i32 shadowPassMode = 0;

#include "missing.fxh"

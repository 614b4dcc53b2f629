#include "foundation/random.h"

Random& sharedRandom()
{
    static Random random(1);
    return random;
}

#include "demo/demo.h"

void Demo::drawLoadingProgress(float fraction)
{
    if (loadingProgressProbe)
        loadingProgressProbe(fraction);
}

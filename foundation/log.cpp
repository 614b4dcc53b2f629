#include "foundation/log.h"

std::ofstream logStream("nga.out", std::ios::out | std::ios::trunc);

void closeLog()
{
    if (logStream.is_open())
        logStream.close();
}

#include "foundation/log.h"

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <unistd.h>

std::ofstream openLogFile(const char* path)
{
    // Not through a link, and nothing but a regular file: a link or a FIFO
    // planted under the log's name must not have its target overwritten or
    // block the start.
    const int fd = platform::openOutputFile(path);
    if (fd < 0) {
        std::fprintf(stderr, "The log \"%s\" is not written: %s\n", path, platform::outputRefusal(errno).c_str());
        return std::ofstream();
    }
    // The stream opens the very file checked above, whatever the name
    // points to by now.
    std::ofstream out("/proc/self/fd/" + std::to_string(fd), std::ios::out);
    ::close(fd);
    return out;
}

std::ofstream logStream = openLogFile("nga.out");

void closeLog()
{
    if (logStream.is_open())
        logStream.close();
}

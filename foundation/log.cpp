#include "foundation/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::ofstream openLogFile(const char* path)
{
    // Not through a link, and nothing but a regular file: a link or a FIFO
    // planted under the log's name must not have its target overwritten or
    // block the start. Truncation waits until the file is known.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        const int why = fd < 0 ? errno : EINVAL;
        if (fd >= 0)
            ::close(fd);
        std::fprintf(stderr, "The log \"%s\" is not written: %s\n", path,
                     why == ELOOP ? "it is a symbolic link" : why == EINVAL ? "it is not a regular file"
                                                                            : std::strerror(why));
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

#include "platform/win32/file_io.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string toPosix(const char* name)
{
    std::string p(name);
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return p;
}

// Resolves each component of a relative or absolute path case-insensitively.
// Returns an empty string when some component has no match.
std::string resolveIgnoringCase(const std::string& path)
{
    std::string out;
    size_t i = 0;
    if (!path.empty() && path[0] == '/') {
        out = "/";
        i = 1;
    }
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        const std::string part = path.substr(i, j - i);
        i = j + 1;
        if (part.empty() || part == "." || part == "..") {
            if (!part.empty())
                out += part + (j < path.size() ? "/" : "");
            continue;
        }
        const std::string dirName = out.empty() ? "." : out;
        const std::string exact = out + part;
        struct stat st;
        if (::stat(exact.c_str(), &st) == 0) {
            out = exact;
        } else {
            DIR* dir = ::opendir(dirName.c_str());
            if (!dir)
                return {};
            std::string found;
            while (dirent* e = ::readdir(dir)) {
                if (strcasecmp(e->d_name, part.c_str()) == 0) {
                    found = e->d_name;
                    break;
                }
            }
            ::closedir(dir);
            if (found.empty())
                return {};
            out += found;
        }
        if (j < path.size())
            out += "/";
    }
    return out;
}

// Opens only regular files. The open itself must not block, or a FIFO
// would hang the caller until some writer (or reader) appeared; the type is
// then checked on the open descriptor, and truncation waits until it is
// known to be a file. An open that may create or truncate does not follow a
// link, so a link planted under an output's name cannot redirect the write.
int openRegularFile(const std::string& path, int posixFlags, mode_t mode)
{
    const int noFollow = posixFlags & (O_CREAT | O_TRUNC) ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), (posixFlags & ~O_TRUNC) | noFollow | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = why;
        return -1;
    }
    if (::fcntl(fd, F_SETFL, posixFlags & O_APPEND) != 0 || ((posixFlags & O_TRUNC) && ::ftruncate(fd, 0) != 0)) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

} // namespace

namespace platform {

int openOutputFile(const std::string& path)
{
    return openRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

std::string outputRefusal(int error)
{
    switch (error) {
    case ELOOP:
        return "it is a symbolic link";
    case EINVAL:
    case ENXIO: // a FIFO without a reader, a device without its driver
        return "it is not a regular file";
    case EISDIR:
        return "it is a folder";
    default:
        return std::strerror(error);
    }
}

} // namespace platform

int _open(const char* name, int flags, int mode)
{
    if (!name || !*name)
        return -1;
    int posixFlags = 0;
    switch (flags & 3) {
    case _O_WRONLY: posixFlags = O_WRONLY; break;
    case _O_RDWR: posixFlags = O_RDWR; break;
    default: posixFlags = O_RDONLY; break;
    }
    if (flags & _O_APPEND) posixFlags |= O_APPEND;
    if (flags & _O_CREAT) posixFlags |= O_CREAT;
    if (flags & _O_TRUNC) posixFlags |= O_TRUNC;
    if (flags & _O_EXCL) posixFlags |= O_EXCL;
    mode_t perm = 0;
    if (mode & _S_IREAD) perm |= 0444;
    if (mode & _S_IWRITE) perm |= 0220;
    perm &= ~0022u; // the usual umask for group and others

    const std::string path = toPosix(name);
    int fd = openRegularFile(path, posixFlags, perm);
    if (fd < 0 && errno == ENOENT && !(flags & _O_CREAT)) {
        const std::string resolved = resolveIgnoringCase(path);
        if (!resolved.empty() && resolved != path)
            fd = openRegularFile(resolved, posixFlags, perm);
    }
    return fd;
}

int _close(int fd)
{
    return ::close(fd) == 0 ? 0 : -1;
}

int _read(int fd, void* buffer, unsigned int count)
{
    // The runtime reads until count or end of file; POSIX may return less.
    unsigned int done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done ? (int)done : -1;
        }
        if (n == 0)
            break;
        done += (unsigned int)n;
    }
    return (int)done;
}

int _write(int fd, const void* buffer, unsigned int count)
{
    unsigned int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done ? (int)done : -1;
        }
        done += (unsigned int)n;
    }
    return (int)done;
}

long _lseek(int fd, long offset, int origin)
{
    const off_t r = ::lseek(fd, offset, origin);
    return r < 0 ? -1L : (long)r;
}

long _filelength(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    return (long)st.st_size;
}

namespace platform {

std::string diskPath(const char* name)
{
    if (!name)
        return {};
    const std::string path = toPosix(name);
    const std::string resolved = resolveIgnoringCase(path);
    return resolved.empty() ? path : resolved;
}

} // namespace platform

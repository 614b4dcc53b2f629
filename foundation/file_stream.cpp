#include "foundation/file_stream.h"

#include <io.h>

#include <cstdlib>
#include <cstring>
#include <string>

FileStream::FileStream(const char* path)
    : searchPath(strdup(path ? path : ""))
{
}

FileStream::FileStream(const FileStream& other)
    : Stream(), searchPath(strdup(other.searchPath))
{
}

FileStream::~FileStream()
{
    if (fd != -1)
        _close(fd);
    std::free(searchPath);
}

Stream* FileStream::clone()
{
    return new FileStream(*this);
}

bool FileStream::exists(const char* name)
{
    FileStream probe(".\\;..\\");
    if (!probe.open(name))
        return false;
    probe.close();
    return true;
}

bool FileStream::open(const char* name)
{
    if (fd != -1)
        return false;
    fd = _open(name, _O_RDONLY | _O_BINARY);
    if (fd == -1) {
        // Drop a drive or device prefix, then try each search-path element
        // directly followed by the rest of the name.
        const char* colon = std::strrchr(name, ':');
        const char* rest = colon ? colon + 1 : name;
        const char* element = searchPath;
        while (fd == -1 && *element) {
            const char* end = std::strchr(element, ';');
            const size_t len = end ? (size_t)(end - element) : std::strlen(element);
            if (len) {
                std::string candidate(element, len);
                candidate += rest;
                fd = _open(candidate.c_str(), _O_RDONLY | _O_BINARY);
            }
            if (!end)
                break;
            element = end + 1;
        }
    }
    if (fd == -1)
        return false;
    const long length = _filelength(fd);
    size = length < 0 ? 0 : (length > 0xFFFFFFFFL ? 0xFFFFFFFFu : (u32)length);
    return true;
}

bool FileStream::create(const char* name)
{
    if (fd != -1)
        return false;
    fd = _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    size = 0;
    return fd != -1;
}

bool FileStream::close()
{
    if (fd == -1)
        return false;
    _close(fd);
    fd = -1;
    size = 0;
    return true;
}

u32 FileStream::read(void* buf, u32 n)
{
    if (fd == -1)
        return 0;
    const int r = _read(fd, buf, n);
    return r < 0 ? 0 : (u32)r;
}

u32 FileStream::write(const void* buf, u32 n)
{
    if (fd == -1)
        return 0;
    const int r = _write(fd, buf, n);
    if (r < 0)
        return 0;
    size += (u32)r;
    return (u32)r;
}

bool FileStream::seek(u32 pos)
{
    return fd != -1 && _lseek(fd, (long)pos, SEEK_SET) != -1;
}

bool FileStream::skip(i32 delta)
{
    return fd != -1 && _lseek(fd, delta, SEEK_CUR) != -1;
}

u32 FileStream::tell()
{
    if (fd == -1)
        return 0;
    const long p = _lseek(fd, 0, SEEK_CUR);
    return p < 0 ? 0 : (u32)p;
}

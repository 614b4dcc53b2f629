// The runtime's low-level file calls (_open, _read, ...) over POSIX. Names
// use Windows syntax: backslashes separate folders. A name that is a
// directory does not open. When a file opened for reading does not exist
// under its exact name, a name that differs only in letter case is found,
// because content names come from a case-insensitive world.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000

#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

int _open(const char* name, int flags, int mode = 0);
int _close(int fd);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
long _lseek(int fd, long offset, int origin);
long _filelength(int fd);

namespace platform {

// The POSIX path of a Windows-syntax name: backslashes become slashes, and
// for an existing file a name differing only in letter case is found.
std::string diskPath(const char* name);

// Opens path (POSIX syntax) for writing, emptied, as every output file of
// the program opens: never through a symbolic link at its last name (a link
// planted there would redirect the write), without blocking (a FIFO would
// hang the caller until a reader came) and only when it is a regular file.
// -1 when refused, with errno ELOOP for a link, EISDIR for a folder, ENXIO
// or EINVAL for anything else but a regular file.
int openOutputFile(const std::string& path);

// Why openOutputFile refused, from its errno, for a log line: "it is a
// symbolic link", "it is not a regular file", ...
std::string outputRefusal(int error);

} // namespace platform

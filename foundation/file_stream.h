// Disk files, found directly or along a ';'-separated search path whose
// elements end with their own backslash (".\;..\").
#pragma once

#include "foundation/stream.h"

class FileStream : public Stream {
public:
    explicit FileStream(const char* searchPath);
    FileStream(const FileStream& other); // copies the search path only
    FileStream& operator=(const FileStream&) = delete;
    ~FileStream() override;

    Stream* clone() override;
    bool exists(const char* name) override;
    bool open(const char* name) override;
    bool create(const char* name) override;
    bool close() override;
    u32 read(void* buf, u32 n) override;
    u32 write(const void* buf, u32 n) override;
    bool seek(u32 pos) override;
    bool skip(i32 delta) override;
    u32 tell() override;

    const char* getSearchPath() const { return searchPath; }

private:
    char* searchPath;
    int fd = -1;
};

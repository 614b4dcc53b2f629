#include "foundation/resource_stream.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

ResourceStream::ResourceStream(const char* type, u16 resourceId, const char* name)
    : mountName(name)
{
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), type);
    if (info) {
        HGLOBAL handle = LoadResource(nullptr, info);
        resourceBytes = static_cast<const u8*>(LockResource(handle));
        resourceSize = resourceBytes ? SizeofResource(nullptr, info) : 0;
    }
}

ResourceStream::ResourceStream(const ResourceStream& other)
    : ByteViewStream(), resourceBytes(other.resourceBytes), resourceSize(other.resourceSize),
      mountName(other.mountName)
{
}

Stream* ResourceStream::clone()
{
    return new ResourceStream(*this);
}

bool ResourceStream::exists(const char* name)
{
    return resourceBytes && name && mountName && std::strcmp(name, mountName) == 0;
}

bool ResourceStream::open(const char* name)
{
    if (!exists(name))
        return false;
    size = resourceSize;
    pos = 0;
    return true;
}

bool ResourceStream::create(const char*)
{
    return false;
}

bool ResourceStream::close()
{
    size = 0;
    pos = 0;
    return true;
}


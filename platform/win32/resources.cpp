#include "platform/win32/resources.h"

#include "platform/win32/crt.h"

#include <list>
#include <mutex>
#include <string>

namespace {

// A resource key: an integer id or a case-insensitive name, as Win32 has it.
struct Key {
    bool isId = false;
    WORD id = 0;
    std::string name;

    static Key from(LPCSTR s)
    {
        Key k;
        if (IS_INTRESOURCE(s)) {
            k.isId = true;
            k.id = (WORD)(ULONG_PTR)s;
        } else if (s[0] == '#') {
            k.isId = true;
            k.id = (WORD)std::strtoul(s + 1, nullptr, 10);
        } else {
            k.name = s;
        }
        return k;
    }

    bool operator==(const Key& o) const
    {
        if (isId != o.isId)
            return false;
        return isId ? id == o.id : _stricmp(name.c_str(), o.name.c_str()) == 0;
    }
};

struct Entry {
    Key type;
    Key name;
    const void* data;
    DWORD size;
};

struct Table {
    std::mutex mutex;
    std::list<Entry> entries; // stable addresses: an HRSRC points at its entry
};

Table& table()
{
    static Table t;
    return t;
}

} // namespace

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR type)
{
    if (!name || !type)
        return nullptr;
    const Key n = Key::from(name);
    const Key t = Key::from(type);
    Table& tab = table();
    std::lock_guard<std::mutex> lock(tab.mutex);
    for (Entry& e : tab.entries)
        if (e.type == t && e.name == n)
            return reinterpret_cast<HRSRC>(&e);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource)
{
    if (!resource)
        return nullptr;
    return const_cast<void*>(reinterpret_cast<Entry*>(resource)->data);
}

LPVOID WINAPI LockResource(HGLOBAL data)
{
    return data;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource)
{
    return resource ? reinterpret_cast<Entry*>(resource)->size : 0;
}

namespace platform {

bool registerResource(LPCSTR type, LPCSTR name, const void* data, size_t size)
{
    Entry e{Key::from(type), Key::from(name), data, (DWORD)size};
    Table& tab = table();
    std::lock_guard<std::mutex> lock(tab.mutex);
    for (Entry& old : tab.entries) {
        if (old.type == e.type && old.name == e.name) {
            old.data = data;
            old.size = e.size;
            return true;
        }
    }
    tab.entries.push_back(e);
    return true;
}

bool registerResource(LPCSTR type, WORD id, const void* data, size_t size)
{
    return registerResource(type, MAKEINTRESOURCEA(id), data, size);
}

void unregisterResource(LPCSTR type, LPCSTR name)
{
    const Key n = Key::from(name);
    const Key t = Key::from(type);
    Table& tab = table();
    std::lock_guard<std::mutex> lock(tab.mutex);
    tab.entries.remove_if([&](const Entry& e) { return e.type == t && e.name == n; });
}

} // namespace platform

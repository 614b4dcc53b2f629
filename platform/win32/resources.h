// Resources linked into the executable. The build embeds files with
// quillon_add_resource() (cmake/QuillonResources.cmake); each embedded blob
// registers itself by type and id (or name) before main runs.
#pragma once

#include "platform/win32/win_types.h"

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

namespace platform {

// Registers a resource; name and type may be MAKEINTRESOURCE values or texts.
// The bytes must live as long as the process. Returns true so that it can
// initialise a static. A later registration of the same type and name
// replaces the earlier one.
bool registerResource(LPCSTR type, LPCSTR name, const void* data, size_t size);
bool registerResource(LPCSTR type, WORD id, const void* data, size_t size);
void unregisterResource(LPCSTR type, LPCSTR name);

} // namespace platform

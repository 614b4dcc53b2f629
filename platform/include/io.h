// Low-level file calls of the Windows runtime over POSIX.
#pragma once

#include "platform/win32/file_io.h"

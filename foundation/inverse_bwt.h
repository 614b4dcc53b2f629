// The last stage of a packed archive entry: the inverse Burrows-Wheeler
// transform with the entry's primary index.
#pragma once

#include "foundation/byte_string.h"

// output gets the input's length (input and output may be one string).
// Returns false, with the output emptied, when the primary index leads the
// walk out of the input; a valid transform never does.
bool inverseBwt(const String& input, i32 primaryIndex, String& output);

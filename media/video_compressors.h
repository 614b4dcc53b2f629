// The installed video compressors that AVI recording can use, by name; a
// compressor's position in the list selects it for recording.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> listVideoCompressors();

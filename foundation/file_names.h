// File names compared the way the archives compare them: letter case is
// ignored and '/' and '\' are the same separator. The archive matches its
// entries with it, and everything that keeps one record per file (decoded
// pictures, textures) does too, so two spellings of one archive entry never
// load it twice.
#pragma once

#include <string>

bool sameFileName(const char* a, const char* b);
// A key that is equal for two names exactly when sameFileName holds.
std::string fileNameKey(const char* name);

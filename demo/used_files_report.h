// Writes the content files a metascene uses to the log, so that an archive
// can be packed with exactly those.
#pragma once

#include <ostream>

class MetaScene;

// First every name in list order ("unsorted files"), then the same names
// with the fixed ones, sorted and each once ("used files").
void reportUsedFiles(const MetaScene& metaScene, std::ostream& out);
// To the log "nga.out".
void reportUsedFiles(const MetaScene& metaScene);

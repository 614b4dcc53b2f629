// The log "nga.out" in the working folder: opened (truncating) before the
// entry point runs, closed at its end. End each line with a line end and a
// flush (std::endl).
#pragma once

#include <fstream>

extern std::ofstream logStream;

// The log file at path, emptied; closed, with a line on stderr, when the
// name is a symbolic link or anything but a regular file.
std::ofstream openLogFile(const char* path);

// Closes the log; the entry point calls it last.
void closeLog();

// The log "nga.out" in the working folder: opened (truncating) before the
// entry point runs, closed at its end. End each line with a line end and a
// flush (std::endl).
#pragma once

#include <fstream>

extern std::ofstream logStream;

// Closes the log; the entry point calls it last.
void closeLog();

// What suites share for diagnostics: the level kept across a test and the
// log ("nga.out" in the test's working folder) read back line by line.
#pragma once

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "platform/win32/message_box.h"

#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

// Restores diagnosticsLevel when the test ends and drops the boxes it
// recorded; each check shows its box again as in a new run.
struct LevelGuard {
    int saved = diagnosticsLevel;
    LevelGuard() { forgetFailedAssertions(); }
    ~LevelGuard()
    {
        diagnosticsLevel = saved;
        platform::clearRecordedMessageBoxes();
    }
};

// Where the log ends now; logLinesFrom reads what was written after it.
inline std::streampos logPosition()
{
    logStream.flush();
    std::ifstream in("nga.out", std::ios::binary | std::ios::ate);
    return in ? in.tellg() : std::streampos(0);
}

inline std::vector<std::string> logLinesFrom(std::streampos from)
{
    logStream.flush();
    std::ifstream in("nga.out", std::ios::binary);
    in.seekg(from);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace testsupport

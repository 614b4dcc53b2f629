// The diagnostics level decides which problems reach the user as message
// boxes: 1 or more shows load errors ("Error"), 2 or more script and shader
// parse errors ("Parse Error"), 3 or more assertion boxes.
#pragma once

#include <iosfwd>

extern int diagnosticsLevel;

// Shows the "Assertion failed" box for an assertion's expression text: the
// quoted message inside it, or "- internal error -" when it holds none.
// Only the first failure of a check shows the box; later ones are counted.
// Execution continues afterwards.
void reportAssertion(const char* expressionText);

// One line per check that failed: how often, and its message. The entry
// point writes it into the log before the profiling report.
void writeAssertionSummary(std::ostream& log);

// Forgets which checks failed, so that the next failure shows its box again.
void forgetFailedAssertions();

// Checked and reported only at diagnostics level 3 or more. Write the
// message into the condition: ENGINE_ASSERT(p && "p must be set").
#define ENGINE_ASSERT(condition)                                                   \
    do {                                                                           \
        if (diagnosticsLevel >= 3 && !(condition))                                 \
            reportAssertion(#condition);                                           \
    } while (0)

// Reports unconditionally (still gated by the level): for sites that have
// already decided that something failed.
#define ENGINE_ASSERT_FAILED(message)                                              \
    do {                                                                           \
        if (diagnosticsLevel >= 3)                                                 \
            reportAssertion(#message);                                             \
    } while (0)

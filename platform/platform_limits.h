// The stand-in's bounds on what its inputs may cost, in one place (the
// stand-in cannot include the engine's foundation/engine_limits.h). Each
// bound is far above what a real demo uses (the comment says what real
// content needs), so that only hostile or broken input meets it; meeting one
// fails that input with a message, never a crash, a hang or gigabytes spent.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::limits {

// --- Effect compiler ---

// Instructions one shader entry point may come to once every call in it is
// inlined (counted in the SPIR-V before legalisation, which inlines them
// all). The demo's largest variant comes to about 3,200; inlining costs the
// square of the size, about half a second at 25,000. Functions that each
// call the one below twice double the count with every level, so twelve
// levels of three lines would take half a minute and fourteen never end.
constexpr uint64_t inlinedInstructions = 32768;
// Processor seconds one syntax check or compile may spend in the helper
// process. A real effect's check takes a few hundredths of a second and its
// largest variant about a tenth.
constexpr uint32_t helperCpuSeconds = 2;
// Seconds of wall time one request may take before the helper is stopped:
// a helper that waits on nothing would never meet the processor budget.
constexpr uint32_t helperWallSeconds = 20;
// Address space a helper may take beyond what the program holds when the
// helper is made. A real compile needs a few megabytes.
constexpr uint64_t helperMemoryBytes = uint64_t(2) << 30;

// --- Save-file chooser ---

// Characters read of any one text the caller hands the chooser (title,
// proposed name, filter, folder): Windows' longest path. Real requests are
// a few dozen characters; a text without its terminator stops here.
constexpr size_t chooserTextChars = 32768;
// Description and pattern pairs read from a filter list: the setup dialog
// gives one.
constexpr int chooserFilters = 256;
// Characters of the default extension ("avi").
constexpr size_t chooserExtensionChars = 64;

} // namespace platform::limits

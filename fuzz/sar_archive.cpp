// The archive reader over arbitrary bytes: mount, then open and read every
// entry (and a second reader made by clone), through a resource stream as
// the demo mounts its archives.
#include "foundation/diagnostics.h"
#include "foundation/resource_stream.h"
#include "foundation/sar_archive.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

void drain(Stream& s)
{
    u8 piece[4096];
    while (s.read(piece, sizeof piece) != 0) {
    }
    s.seek(s.size / 2);
    s.skip(-7);
    s.read(piece, 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    diagnosticsLevel = 0;
    // Registering again replaces the previous input's bytes.
    platform::registerResource("SARFILE", (WORD)77, data, size);
    ResourceStream stream("SARFILE", 77, "fuzz.sar");
    SarArchive archive(stream);
    if (!archive.mount("fuzz.sar"))
        return 0;
    // Entries may share their bytes, so a short input can name many large
    // ones; a few are enough to reach every path.
    const i32 opens = archive.count < 16 ? archive.count : 16;
    for (i32 i = 0; i < opens; ++i) {
        if (archive.open(archive.entries[i].name))
            drain(archive);
    }
    if (archive.count > 0) {
        std::unique_ptr<Stream> copy(archive.clone());
        if (copy->open(archive.entries[archive.count - 1].name))
            drain(*copy);
    }
    archive.exists("missing/name");
    archive.open("missing/name");
    return 0;
}

// The engine's bounds on what content may cost, in one place. Each bound is
// far above what a real demo uses (the comment says what real content needs)
// so that only hostile or broken files meet it; meeting one is logged and
// the item is refused or clamped, never a crash, a hang or gigabytes spent.
#pragma once

#include "foundation/types.h"

namespace limits {

// --- Mesh build ---

// Pairs of differing face normals that smoothing compares over one mesh. A
// point where g different faces meet costs g(g-1)/2 pairs: a sphere of 300
// segments spends about 45,000 at each pole, a closed mesh of a million
// points about 15 million. A point that would overrun what is left keeps its
// faces' own normals; spending all of it takes about a second.
constexpr u64 meshSmoothingPairs = u64(1) << 28;

// --- Archive entries ---

// The largest decoded size of one archive entry, by the reader its name
// goes to. A coded entry may expand to 512 times its packed size, and
// decoding one costs about seven times its decoded size while it runs, so
// an entry is refused by its directory size before anything is decoded.
// The shipped main archive decodes to 0.6 MB in all, its largest entry
// (the music) to 190 KB.

// Scripts and effect files (.scr, .mts, .fx, .fxh), read whole as text and
// tokenised with four bytes kept per line: the demo's are up to 12 KB.
constexpr u32 scriptEntryBytes = 16u << 20;
// Scene files (.lws): 1 to 15 KB here; one with a baked key on every frame
// of every item of a long scene comes to a few MB.
constexpr u32 sceneEntryBytes = 64u << 20;
// Object files (.lwo): up to 72 KB here; a million-polygon object is about
// 40 MB.
constexpr u32 objectEntryBytes = 128u << 20;
// Pictures (.jpg, .bmp, .tga, .pcx, .dds): up to 66 KB here; 4096 x 4096
// pixels of 32 bits, the largest texture the devices take, is 85 MB with
// its mip chain.
constexpr u32 pictureEntryBytes = 128u << 20;
// Any other entry (music, sounds, video clips): the music of a demo is a
// few MB of Ogg, a clip some tens of MB.
constexpr u32 otherEntryBytes = 256u << 20;
// How many 0xFF bytes past its packed bytes a coded entry may make the
// decoder read. A writer may leave trailing 0xFF bytes out since the
// decoder supplies them; a stream that needs more than this never ends.
constexpr u32 codedTailBytes = 1024;

// --- Pictures, textures and videos ---

// Pixels of one decoded picture, at four bytes each: every reader refuses a
// larger one before allocating. A picture file names its own size, so a few
// hundred bytes of header can claim this much; the demo's pictures are
// 512 x 384 at most.
constexpr u64 pictureBytes = u64(256) << 20;
// The longest side a picture file may give.
constexpr i64 pictureSide = 16384;
// Texels of level 0 of one picture texture (4096 x 4096, the largest
// texture the devices of the content's era take). A larger picture is built
// at the largest halved size that fits, with a log line; the build's scratch,
// converted and device copies and the mip chain each cost about this times
// four bytes again.
constexpr u64 pictureTexels = u64(4096) * 4096;
// Texels of one video frame (2048 x 2048). Videos are played at 720 x 576
// or 1920 x 1080 at most; the renderer holds five such surfaces and the
// decoder several frames more. A larger video does not play, with a log line.
constexpr u64 videoTexels = u64(2048) * 2048;
// Surfaces a video renderer may ask for at once: it asks for five, and
// more would only exhaust memory.
constexpr u32 videoSurfaces = 64;
// Texels one metascene's textures and decoded pictures may take together:
// 512 MiB at four bytes, the video memory of the largest cards of the
// content's era; the demo's own metascenes take about a million. A texture
// or picture past it is not built (logged), and shows nothing.
constexpr u64 metaSceneTexels = u64(128) << 20;
// Frame numbers one image sequence clip may span. Every present frame is a
// texture of its own, so real sequences run to a few hundred (4096 frames
// are over two minutes at 30 per second); the clip's numbers may name
// 65,536. The range is cut at this many entries, with a log line.
constexpr u32 sequenceFrames = 4096;

// --- Render targets made from scene files and the script ---

// A shadow map's edge in texels. Real scenes draw theirs at 512 to 2048;
// 4096 (64 MB of colour and as much of depth) is beyond any of them.
constexpr i32 shadowMapEdge = 4096;
// The render-target memory one metascene's content and script may make:
// shadow maps, cube reflection targets and the scene targets of setrt, blur
// and xfade, counted at 4 bytes a texel of colour and 4 of depth. A real
// metascene holds a few shadow maps, a few mirrors and a handful of
// screen-sized targets, well under 256 MB.
constexpr u64 metaSceneTargetBytes = u64(1) << 30;
// The bake targets (1024 x 1024, 4 MB on each device) of one metascene: a
// real one bakes a few lightmapped surfaces.
constexpr u64 metaSceneBakeTargets = 64;

// --- Sound channels ---
// Each channel holds a copy of its file and, for Ogg, a streaming thread
// with a ring buffer of its own: about half a megabyte and one thread.

// The "// sound" comments of one scene file: a scene gives a looping sound
// to a few of its objects (a machine, a fire), never dozens.
constexpr u32 soundCommentsPerSceneFile = 64;
// The distinct sound files the key-binding script makes channels of: one
// per bound action, a handful in practice.
constexpr u32 keyBindingSounds = 64;

} // namespace limits

// A texture whose picture is a video played by a DirectShow graph ending in
// the Video Mixing Renderer 9, renderless, with VMR9Allocator handing the
// renderer texture surfaces of the engine's device. Rendering shows the
// ring entry just behind the one being filled.
//
// The ring is process-wide, shared by every VideoTexture: only one video
// plays correctly at a time.
#pragma once

#include "materials/com_ptr.h"
#include "materials/texture.h"
#include "materials/vmr9_allocator.h"

#include <dshow.h>

#include <memory>

class Stream;

class VideoTexture : public Texture {
public:
    String fileName;
    // A reader of the stream the name came with, when that stream holds it:
    // the video then plays from there (an archive entry) and not from disk.
    std::unique_ptr<Stream> source;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> renderer;
    ComPtr<VMR9Allocator> allocator;
    DWORD rotRegistration = 0; // 0: not in the running object table
    // Shared by a texture and its copies: the one of them whose graph plays
    // the file now, if any. Every video texture shows the process-wide ring,
    // so a copy shows that graph's frames and needs no decoding of its own.
    struct Playback {
        VideoTexture* player = nullptr;
    };
    std::shared_ptr<Playback> playback;

    explicit VideoTexture(Engine* engine);
    // The graph members start empty; the copy shares the playback.
    VideoTexture(const VideoTexture& other);
    // Stops the graph, removes the table entry, releases allocator and graph.
    ~VideoTexture() override;

    Texture* clone() const override;
    // Builds and runs the graph, unless a copy of this texture plays the
    // file already; without a file name, or when the file does not play,
    // there is no texture and a log line says why.
    void load() override;
    IDirect3DTexture9* current(double time) override;

    // Without a source, or one that does not hold the name, the video
    // plays from disk.
    virtual void setFileName(const char* name, Stream* source = nullptr);
    virtual HRESULT createAllocator();
    virtual HRESULT addToRot();
    virtual void removeFromRot();

    // The ring shared by all video textures, guarded by ringLock.
    static constexpr int kRingSize = 5;
    static CRITICAL_SECTION ringLock;
    static IDirect3DTexture9* ring[kRingSize];
    static int ringIndex; // slot of the surface handed out last

private:
    void releaseGraph();
    // Renders the file, or the entry of source, into the graph.
    HRESULT render();
};

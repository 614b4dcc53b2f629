// Records rendered frames: into an AVI file through a capture graph whose
// source is the GrabberFilter, into a numbered BMP sequence, or as single
// screenshots. Frames come from the back buffer before Present when it is
// a plain A8R8G8B8 surface of the capture size, else from the front buffer
// after Present.
#pragma once

#include "foundation/byte_string.h"
#include "foundation/types.h"

#include <d3d9.h>
#include <dshow.h>

class GrabberFilter;
struct DisplaySettings;

class FrameGrabber {
public:
    // The engine's current-device slot, read at every grab: frames come from
    // the device drawing now. A slot rather than the engine, as the media
    // library sits below the engine's.
    IDirect3DDevice9* const* currentDevice;
    i32 width = 0; // the capture size
    i32 height = 0;
    u8 backBufferMode = 0;
    IDirect3DSurface9* surface = nullptr; // front-buffer copies; made once
    ICaptureGraphBuilder2* builder = nullptr;
    IGraphBuilder* graph = nullptr; // non-null while AVI recording is on
    IMediaControl* control = nullptr;
    GrabberFilter* filter = nullptr;
    String bmpBaseName; // non-empty while a BMP sequence is recorded

    FrameGrabber(IDirect3DDevice9* const* currentDevice, const DisplaySettings* settings);
    ~FrameGrabber();
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    // Checks the back buffer can be read (else switches to the front
    // buffer) or makes the front-buffer surface. Once.
    void ensureSurface();
    void startBmpSequence(const char* baseName);
    // Builds and runs grabber -> compressor number index -> AVI mux -> file.
    // Any failing step returns its result and leaves capture off.
    HRESULT startAvi(const char* fileName, i32 compressorIndex);
    // One frame into the graph, stamped frame x 400000 (100-ns units).
    void grabAviFrame(i32 frame);
    // One 24-bit BMP file "<baseName><number as %04d>.bmp"; a link, a FIFO
    // or anything but a regular file under that name is not written to.
    void writeBmpFrame(const char* baseName, i32 number);
    void stopGraph();
    // The frame into dest (width x height x 4 bytes, bottom row first);
    // false when it cannot be read.
    bool copyFrame(u8* dest);

private:
    // The surface holding the frame now, locked for reading: the back
    // buffer (fetched per grab: a held one would block a device reset) or
    // the front-buffer copy. Null when there is none or the lock failed.
    IDirect3DSurface9* lockFrame(D3DLOCKED_RECT& locked);
    void unlockFrame(IDirect3DSurface9* source);

    bool surfaceChecked = false;
    // Frame files that could not be created: the first is logged, so that a
    // folder that takes none does not log every frame.
    u32 unwrittenFrames = 0;
};

#include "platform/dsound/sdl_audio_output.h"

#include "platform/dsound/mixer.h"

#include <SDL.h>

#include <cstdio>
#include <mutex>

#include <dlfcn.h>

namespace platform::dsound {

namespace {

// SDL's audio driver is process-wide: the first output starts it, the last
// one shuts it down. A later output uses the driver the first one chose.
std::mutex driverMutex;
int openOutputs = 0;

void SDLCALL pull(void* user, Uint8* stream, int length)
{
    static_cast<Mixer*>(user)->mix(reinterpret_cast<int16_t*>(stream),
                                   static_cast<uint32_t>(length) / kFrameBytes);
}

SDL_AudioDeviceID openDevice(Mixer& mixer, SDL_AudioSpec& have)
{
    SDL_AudioSpec want = {};
    want.freq = static_cast<int>(kSampleRate);
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024;
    want.callback = pull;
    want.userdata = &mixer;
    // No allowed changes: SDL converts to the hardware's format itself.
    return SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
}

// ALSA reports every step of a failed device open on standard error; where
// there is no sound card, the silent driver follows without a word instead.
// SDL opens the same library later, so the handler set here is the one its
// ALSA driver meets.
class QuietAlsa {
public:
    QuietAlsa()
    {
        if (void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL))
            setHandler = reinterpret_cast<SetHandler>(::dlsym(alsa, "snd_lib_error_set_handler"));
        if (setHandler)
            setHandler(&silent);
    }
    ~QuietAlsa()
    {
        if (setHandler)
            setHandler(nullptr); // ALSA's own reporting again
    }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;

private:
    using Handler = void (*)(const char* file, int line, const char* function, int error, const char* format, ...);
    using SetHandler = int (*)(Handler);
    static void silent(const char*, int, const char*, int, const char*, ...) {}
    SetHandler setHandler = nullptr;
};

} // namespace

std::unique_ptr<AudioOutput> AudioOutput::open(Mixer& mixer)
{
    std::lock_guard<std::mutex> lock(driverMutex);
    SDL_AudioSpec have = {};
    SDL_AudioDeviceID id = 0;
    if (openOutputs > 0) {
        id = openDevice(mixer, have);
    } else {
        // SDL_AUDIODRIVER, when set, names the driver; SDL does not fall
        // back to its dummy driver by itself.
        QuietAlsa quiet;
        if (SDL_AudioInit(nullptr) == 0) {
            id = openDevice(mixer, have);
            if (id == 0)
                SDL_AudioQuit();
        }
        if (id == 0 && SDL_AudioInit("dummy") == 0) {
            id = openDevice(mixer, have);
            if (id == 0)
                SDL_AudioQuit();
        }
    }
    if (id == 0) {
        std::fprintf(stderr, "DirectSound: no audio output: %s\n", SDL_GetError());
        return nullptr;
    }
    ++openOutputs;
    std::unique_ptr<AudioOutput> output(new AudioOutput);
    output->device = id;
    output->frames = have.samples;
    SDL_PauseAudioDevice(id, 0);
    return output;
}

AudioOutput::~AudioOutput()
{
    std::lock_guard<std::mutex> lock(driverMutex);
    // Waits for a callback in progress, so the mixer may go afterwards.
    SDL_CloseAudioDevice(device);
    if (--openOutputs == 0)
        SDL_AudioQuit();
}

} // namespace platform::dsound

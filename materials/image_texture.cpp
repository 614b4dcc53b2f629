#include "materials/texture.h"

#include "foundation/diagnostics.h"
#include "foundation/engine_limits.h"
#include "foundation/log.h"
#include "materials/engine.h"
#include "materials/image_cache.h"
#include "materials/texel_budget.h"

#include <d3dx9.h>
#include <windows.h>

#include <new>
#include <ostream>
#include <vector>

namespace {

void reportLoadError(const char* text)
{
    if (diagnosticsLevel >= 1)
        MessageBoxA(nullptr, text, "Error", MB_ICONEXCLAMATION);
}

// The texels of an image as 0xAARRGGBB words: the image's own pixels for
// 32-bit images, a widened copy (alpha 255) for 24-bit TGA images. Empty
// for anything else.
class ArgbPixels {
public:
    explicit ArgbPixels(const Image* image)
    {
        if (!image || !image->pixels || image->width <= 0 || image->height <= 0)
            return;
        width = image->width;
        height = image->height;
        if (image->bytesPerPixel == 0 || image->bytesPerPixel == 4) {
            words = image->pixels;
            return;
        }
        if (image->bytesPerPixel != 3)
            return;
        const size_t count = size_t(width) * size_t(height);
        widened = new (std::nothrow) u32[count];
        if (!widened)
            return;
        const u8* bytes = image->bytes(); // blue, green, red
        for (size_t i = 0; i < count; ++i)
            widened[i] = 0xFF000000u | u32(bytes[3 * i + 2]) << 16 | u32(bytes[3 * i + 1]) << 8 | bytes[3 * i];
        words = widened;
    }
    ~ArgbPixels() { delete[] widened; }
    ArgbPixels(const ArgbPixels&) = delete;
    ArgbPixels& operator=(const ArgbPixels&) = delete;

    bool valid() const { return words != nullptr; }
    // Row and column are clamped to the image, so a smaller image (an alpha
    // picture) is read at its last row or column instead of past its end.
    u32 at(i32 x, i32 y) const
    {
        if (x >= width)
            x = width - 1;
        if (y >= height)
            y = height - 1;
        return words[size_t(y) * size_t(width) + size_t(x)];
    }

    i32 width = 0;
    i32 height = 0;

private:
    const u32* words = nullptr;
    u32* widened = nullptr;
};

u32 greyAverage(u32 texel)
{
    return (((texel >> 16) & 0xFF) + ((texel >> 8) & 0xFF) + (texel & 0xFF)) / 3;
}

} // namespace

struct ImageTexture::Copies {
    std::vector<ImageTexture*> members;
};

ImageTexture::ImageTexture(Engine* engine)
    : Texture(engine, 3)
    , copies(std::make_shared<Copies>())
{
    copies->members.push_back(this);
}

ImageTexture::ImageTexture(const ImageTexture& other)
    : Texture(other)
    , colorImage(other.colorImage)
    , ddsData(other.ddsData)
    , copies(other.copies)
{
    copies->members.push_back(this);
    if (colorImage)
        colorImage->addRef();
    if (ddsData)
        ddsData->addRef();
}

ImageTexture::~ImageTexture()
{
    std::erase(copies->members, this);
    if (colorImage)
        colorImage->release();
    if (ddsData)
        ddsData->release();
}

Texture* ImageTexture::clone() const
{
    return new ImageTexture(*this);
}

Image* ImageTexture::image()
{
    return colorImage;
}

bool ImageTexture::open(const char* fileName, Stream& source)
{
    name = fileName ? fileName : "";
    if (ddsData) {
        ddsData->release();
        ddsData = nullptr;
    }
    if (colorImage) {
        colorImage->release();
        colorImage = nullptr;
    }
    String ddsName = name;
    ddsName.append(".dds");
    ddsData = loadFileCached(source, ddsName.c_str());
    if (!ddsData) {
        // A picture already cached was paid for by whoever decoded it.
        const bool decodedHere = !isImageCached(name.c_str());
        colorImage = loadImage(source, name.c_str(), false);
        if (colorImage && decodedHere && budget &&
            !budget->take(u64(colorImage->width) * u64(colorImage->height), name.c_str())) {
            forgetCachedImage(colorImage);
            colorImage->release();
            colorImage = nullptr;
        }
    }
    return ddsData != nullptr || colorImage != nullptr;
}

void ImageTexture::load()
{
    BuildInputs inputs;
    // The colour-map flag matters only to a transparency map's format.
    inputs.flags = (flags & kTransparencyMap) ? flags : flags & ~u32(kColorMap);
    inputs.alphaMode = alphaMode;
    inputs.hasAlphaTexture = alphaTexture != nullptr;
    inputs.alphaImage = alphaTexture ? alphaTexture->image() : nullptr;
    inputs.colorImage = colorImage;
    inputs.ddsData = ddsData;
    for (ImageTexture* copy : copies->members) {
        if (copy == this || !copy->baseTextures[0] || !(copy->builtFrom == inputs))
            continue;
        releaseDeviceTextures();
        for (i32 i = 0; i < slotCount && i < copy->slotCount; ++i) {
            if (copy->baseTextures[i])
                copy->baseTextures[i]->AddRef();
            baseTextures[i] = copy->baseTextures[i];
            currentTextures[i] = copy->baseTextures[i];
        }
        flags |= copy->flags & kScratchConvert;
        alphaMode = copy->alphaMode;
        width = copy->width;
        height = copy->height;
        depth = 1;
        levelCount = copy->levelCount;
        format = copy->format;
        pool = copy->pool;
        builtFrom = inputs;
        return;
    }
    if (ddsData)
        loadDds();
    else
        loadImages();
    builtFrom = inputs;
}

void ImageTexture::loadImages()
{
    Image* alphaImage = alphaTexture ? alphaTexture->image() : nullptr;
    if (alphaTexture && !alphaImage) {
        logStream << "Missing alpha texture \"" << alphaTexture->name.c_str() << "\" !!!" << std::endl;
        reportLoadError(formatTemp("Missing alpha texture \"%s\" !!!\n", alphaTexture->name.c_str()));
    }
    const ArgbPixels color(colorImage);
    if (!color.valid()) {
        logStream << "Missing texture \"" << name.c_str() << "\" !!!" << std::endl;
        reportLoadError(formatTemp("Missing texture \"%s\" !!!\n", name.c_str()));
        return;
    }
    const ArgbPixels alpha(alphaImage);
    const bool useAlpha = alpha.valid();

    i32 w, h;
    if ((flags & kNoScale) && (engine->caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) {
        w = color.width;
        h = color.height;
    } else {
        w = 128;
        while (w < color.width && w < (1 << 30))
            w *= 2;
        h = 1;
        while (h < color.height && h < (1 << 30))
            h *= 2;
    }
    if (engine->caps.MaxTextureWidth && u32(w) > engine->caps.MaxTextureWidth)
        w = i32(engine->caps.MaxTextureWidth);
    if (engine->caps.MaxTextureHeight && u32(h) > engine->caps.MaxTextureHeight)
        h = i32(engine->caps.MaxTextureHeight);
    // A picture file names its own size: past the engine's largest picture
    // texture, the longer side is halved until it fits (point sampling
    // below reads the picture at any size).
    if (u64(w) * u64(h) > limits::pictureTexels) {
        const i32 fullWidth = w, fullHeight = h;
        while (u64(w) * u64(h) > limits::pictureTexels)
            (w >= h ? w : h) /= 2;
        logStream << "Texture \"" << name.c_str() << "\" of " << fullWidth << " x " << fullHeight
                  << " texels is larger than a picture may be; built at " << w << " x " << h << std::endl;
    }

    // The fill below writes 32-bit ARGB words.
    format = D3DFMT_A8R8G8B8;
    if (!create2D(w, h, flags, ""))
        return;
    IDirect3DTexture9* texture = baseTextures[0];
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        return;

    const float stepX = float(color.width) / float(w);
    const float stepY = float(color.height) / float(h);
    float rowPosition = 0.0f;
    for (i32 y = 0; y < h; ++y, rowPosition += stepY) {
        u32* out = reinterpret_cast<u32*>(static_cast<u8*>(locked.pBits) + size_t(y) * u32(locked.Pitch));
        const i32 row = i32(rowPosition);
        float columnPosition = 0.0f;
        for (i32 x = 0; x < w; ++x, columnPosition += stepX) {
            const i32 column = i32(columnPosition);
            const u32 texel = color.at(column, row);
            u32 value;
            if (flags & kTransparencyMap) {
                value = (255 - greyAverage(texel)) << 24;
            } else if (useAlpha) {
                value = (texel & 0x00FFFFFF) | greyAverage(alpha.at(column, row)) << 24;
            } else if (alphaMode == 1) {
                value = texel | 0xFF000000u;
            } else if (alphaMode == 2) {
                const u32 a = texel >> 24;
                value = 0xFF000000u | a << 16 | a << 8 | a;
            } else {
                // Mode 0, and unknown modes from damaged files.
                value = texel;
            }
            out[x] = value;
        }
    }
    if (useAlpha)
        alphaMode = 0;
    texture->UnlockRect(0);
    finishCreation();
}

void ImageTexture::loadDds()
{
    chooseFormat();
    releaseDeviceTextures();
    // Into the first device's slot, so on the first device.
    IDirect3DDevice9* device = engine && engine->deviceCount > 0 ? engine->devices[0] : nullptr;
    IDirect3DTexture9* texture = nullptr;
    const HRESULT hr =
        device ? D3DXCreateTextureFromFileInMemoryEx(device, ddsData->data, ddsData->size, D3DX_DEFAULT, D3DX_DEFAULT,
                                                     (flags & kMipChain) ? 0 : 1, 0, format, pool, D3DX_DEFAULT,
                                                     D3DX_DEFAULT, 0, nullptr, nullptr, &texture)
               : D3DERR_INVALIDCALL;
    if (FAILED(hr) || !texture) {
        logStream << "Loading texture \"" << name.c_str() << "\" from .dds-file failed!!!" << std::endl;
        reportLoadError(formatTemp("Loading texture \"%s\" from .dds-file failed!!!\n", name.c_str()));
        return;
    }
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    // The file gives the size: bounded as a picture is, and paid for.
    const u64 texels = u64(desc.Width) * u64(desc.Height);
    if (texels > limits::pictureTexels) {
        logStream << "Texture \"" << name.c_str() << "\" of " << desc.Width << " x " << desc.Height
                  << " texels from .dds-file is larger than a picture may be" << std::endl;
        texture->Release();
        return;
    }
    if (!takeTexels(texels)) {
        texture->Release();
        return;
    }
    baseTextures[0] = texture;
    currentTextures[0] = texture;
    width = i32(desc.Width);
    height = i32(desc.Height);
    format = desc.Format;
    depth = 1;
    levelCount = i32(texture->GetLevelCount());
    copyToDevices();
}

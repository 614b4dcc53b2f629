#include "platform/d3d9/texture.h"

#include "platform/d3d9/device.h"

#include <algorithm>
#include <cstring>

namespace platform::d3d9 {

namespace {

D3DSURFACE_DESC levelDesc(const TextureStorage& t, UINT level, D3DRESOURCETYPE type)
{
    D3DSURFACE_DESC d{};
    d.Format = t.format().format;
    d.Type = type;
    d.Usage = t.usage();
    d.Pool = t.pool();
    d.MultiSampleType = D3DMULTISAMPLE_NONE;
    d.MultiSampleQuality = 0;
    d.Width = mipExtent(t.width(), level);
    d.Height = mipExtent(t.height(), level);
    return d;
}

void prepareOnDeviceThread(Device* device, TextureStorage& t)
{
    if (!device->onDeviceThread())
        return;
    ContextScope scope(device->glContext());
    if (scope.ok())
        t.prepareForDraw();
}

} // namespace

TextureStorage* asTextureStorage(IDirect3DBaseTexture9* texture)
{
    return texture ? dynamic_cast<TextureStorage*>(texture) : nullptr;
}

TextureStorage::TextureStorage(Device* device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth,
                               UINT levels, DWORD usage, const FormatInfo& format, D3DPOOL pool)
    : m_storageDevice(device)
    , m_type(type)
    , m_width(width)
    , m_height(height)
    , m_depth(depth)
    , m_levels(levels)
    , m_usage(usage)
    , m_format(format)
    , m_pool(pool)
{
}

TextureStorage::~TextureStorage()
{
    m_surfaces.clear();
    m_volumes.clear();
    if (m_texture) {
        Device::forgetTextureName(m_texture);
        ContextScope scope(m_storageDevice->glContext());
        if (scope.ok())
            glDeleteTextures(1, &m_texture);
    }
}

void TextureStorage::makeLevels()
{
    const UINT faces = m_type == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    if (m_type == D3DRTYPE_VOLUMETEXTURE) {
        for (UINT level = 0; level < m_levels; ++level)
            m_volumes.push_back(std::make_unique<Volume>(m_storageDevice, this, level, mipExtent(m_width, level),
                                                         mipExtent(m_height, level), mipExtent(m_depth, level)));
        return;
    }
    for (UINT face = 0; face < faces; ++face) {
        for (UINT level = 0; level < m_levels; ++level)
            m_surfaces.push_back(std::make_unique<Surface>(m_storageDevice, this, level, face,
                                                           levelDesc(*this, level, D3DRTYPE_SURFACE), m_format));
    }
}

Volume* TextureStorage::volume(UINT level) const
{
    return level < m_volumes.size() ? m_volumes[level].get() : nullptr;
}

GLenum TextureStorage::glTarget() const
{
    switch (m_type) {
    case D3DRTYPE_CUBETEXTURE: return GL_TEXTURE_CUBE_MAP;
    case D3DRTYPE_VOLUMETEXTURE: return GL_TEXTURE_3D;
    default: return GL_TEXTURE_2D;
    }
}

GLuint TextureStorage::glTexture()
{
    if (m_texture)
        return m_texture;
    const GLenum target = glTarget();
    glCreateTextures(target, 1, &m_texture);
    if (target == GL_TEXTURE_3D)
        glTextureStorage3D(m_texture, GLsizei(m_levels), m_format.internalFormat, GLsizei(m_width),
                           GLsizei(m_height), GLsizei(m_depth));
    else
        glTextureStorage2D(m_texture, GLsizei(m_levels), m_format.internalFormat, GLsizei(m_width),
                           GLsizei(m_height));
    glTextureParameteriv(m_texture, GL_TEXTURE_SWIZZLE_RGBA, m_format.swizzle);
    glTextureParameteri(m_texture, GL_TEXTURE_BASE_LEVEL, GLint(std::min(m_lod, m_levels - 1)));
    if (!checkGlErrors("texture storage")) {
        glDeleteTextures(1, &m_texture);
        m_texture = 0;
        return 0;
    }
    // Start from zeros, as the CPU copies do.
    for (UINT level = 0; level < m_levels; ++level) {
        if (!m_format.compressed) {
            glClearTexImage(m_texture, GLint(level), m_format.uploadFormat, m_format.uploadType, nullptr);
            continue;
        }
        const UINT w = mipExtent(m_width, level), h = mipExtent(m_height, level);
        const std::vector<unsigned char> zeros(formatSize(m_format, w, h), 0);
        const UINT faces = target == GL_TEXTURE_CUBE_MAP ? 6 : 1;
        for (UINT face = 0; face < faces; ++face)
            uploadTexels(m_texture, target, m_format, GLint(level), target == GL_TEXTURE_CUBE_MAP ? GLint(face) : -1,
                         0, 0, GLsizei(w), GLsizei(h), 1, zeros.data(), formatPitch(m_format, w), 0);
    }
    checkGlErrors("texture initial contents");
    notePending();
    return m_texture;
}

bool TextureStorage::uploadPending()
{
    if (!glTexture())
        return false;
    m_pending.store(false, std::memory_order_release);
    bool ok = true;
    for (auto& s : m_surfaces)
        ok = s->ensureGl() && ok;
    for (auto& v : m_volumes)
        ok = v->uploadIfPending(m_texture) && ok;
    return ok;
}

DWORD TextureStorage::setLod(DWORD lod)
{
    const DWORD old = m_lod;
    if (m_pool != D3DPOOL_MANAGED)
        return 0; // only managed textures have a level of detail
    m_lod = std::min<DWORD>(lod, m_levels - 1);
    if (m_texture && m_storageDevice->onDeviceThread()) {
        ContextScope scope(m_storageDevice->glContext());
        if (scope.ok())
            glTextureParameteri(m_texture, GL_TEXTURE_BASE_LEVEL, GLint(m_lod));
    }
    return old;
}

HRESULT TextureStorage::setAutoGenFilter(D3DTEXTUREFILTERTYPE filter)
{
    if (filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR && filter != D3DTEXF_NONE)
        return D3DERR_INVALIDCALL;
    m_autoGenFilter = filter;
    return D3D_OK;
}

void TextureStorage::generateMipSubLevels()
{
    if (m_levels < 2 || m_format.compressed || !m_storageDevice->onDeviceThread())
        return;
    ContextScope scope(m_storageDevice->glContext());
    if (!scope.ok() || !prepareForDraw())
        return;
    glGenerateTextureMipmap(m_texture);
    checkGlErrors("GenerateMipSubLevels");
    const UINT faces = m_type == D3DRTYPE_CUBETEXTURE ? 6 : 1;
    for (UINT face = 0; face < faces; ++face) {
        for (UINT level = 1; level < m_levels && !m_surfaces.empty(); ++level)
            m_surfaces[face * m_levels + level]->noteGpuWritten();
    }
}

// ---------------------------------------------------------------------------
// 2D

Texture2D::Texture2D(Device* device, UINT width, UINT height, UINT levels, DWORD usage, const FormatInfo& format,
                     D3DPOOL pool)
    : Resource<IDirect3DTexture9>(device, D3DRTYPE_TEXTURE)
    , TextureStorage(device, D3DRTYPE_TEXTURE, width, height, 1, levels, usage, format, pool)
{
    makeLevels();
}

Texture2D::~Texture2D() = default;

STDMETHODIMP Texture2D::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DTexture9>(
        this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DTexture9});
}

STDMETHODIMP_(void) Texture2D::PreLoad()
{
    prepareOnDeviceThread(device(), *this);
}

STDMETHODIMP Texture2D::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc)
{
    if (!pDesc || Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return surface(Level)->GetDesc(pDesc);
}

STDMETHODIMP Texture2D::GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel)
{
    if (!ppSurfaceLevel)
        return D3DERR_INVALIDCALL;
    *ppSurfaceLevel = nullptr;
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    Surface* s = surface(Level);
    s->AddRef();
    *ppSurfaceLevel = s;
    return D3D_OK;
}

STDMETHODIMP Texture2D::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return surface(Level)->LockRect(pLockedRect, pRect, Flags);
}

STDMETHODIMP Texture2D::UnlockRect(UINT Level)
{
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return surface(Level)->UnlockRect();
}

STDMETHODIMP Texture2D::AddDirtyRect(const RECT*)
{
    return D3D_OK; // writes reach GL at unlock; nothing waits for UpdateTexture
}

// ---------------------------------------------------------------------------
// Cube

CubeTexture::CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, const FormatInfo& format, D3DPOOL pool)
    : Resource<IDirect3DCubeTexture9>(device, D3DRTYPE_CUBETEXTURE)
    , TextureStorage(device, D3DRTYPE_CUBETEXTURE, edge, edge, 1, levels, usage, format, pool)
{
    makeLevels();
}

CubeTexture::~CubeTexture() = default;

Surface* CubeTexture::faceSurface(D3DCUBEMAP_FACES face, UINT level) const
{
    if (UINT(face) > 5 || level >= levelCount())
        return nullptr;
    return surface(UINT(face) * levelCount() + level);
}

STDMETHODIMP CubeTexture::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DCubeTexture9>(
        this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DCubeTexture9});
}

STDMETHODIMP_(void) CubeTexture::PreLoad()
{
    prepareOnDeviceThread(device(), *this);
}

STDMETHODIMP CubeTexture::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc)
{
    if (!pDesc || Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return surface(Level)->GetDesc(pDesc);
}

STDMETHODIMP CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level,
                                            IDirect3DSurface9** ppCubeMapSurface)
{
    if (!ppCubeMapSurface)
        return D3DERR_INVALIDCALL;
    *ppCubeMapSurface = nullptr;
    Surface* s = faceSurface(FaceType, Level);
    if (!s)
        return D3DERR_INVALIDCALL;
    s->AddRef();
    *ppCubeMapSurface = s;
    return D3D_OK;
}

STDMETHODIMP CubeTexture::LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect,
                                   const RECT* pRect, DWORD Flags)
{
    Surface* s = faceSurface(FaceType, Level);
    return s ? s->LockRect(pLockedRect, pRect, Flags) : D3DERR_INVALIDCALL;
}

STDMETHODIMP CubeTexture::UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level)
{
    Surface* s = faceSurface(FaceType, Level);
    return s ? s->UnlockRect() : D3DERR_INVALIDCALL;
}

STDMETHODIMP CubeTexture::AddDirtyRect(D3DCUBEMAP_FACES FaceType, const RECT*)
{
    return UINT(FaceType) <= 5 ? D3D_OK : D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// Volume

VolumeTexture::VolumeTexture(Device* device, UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                             const FormatInfo& format, D3DPOOL pool)
    : Resource<IDirect3DVolumeTexture9>(device, D3DRTYPE_VOLUMETEXTURE)
    , TextureStorage(device, D3DRTYPE_VOLUMETEXTURE, width, height, depth, levels, usage, format, pool)
{
    makeLevels();
}

VolumeTexture::~VolumeTexture() = default;

STDMETHODIMP VolumeTexture::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DVolumeTexture9>(
        this, riid, ppvObject, {&IID_IDirect3DResource9, &IID_IDirect3DBaseTexture9, &IID_IDirect3DVolumeTexture9});
}

STDMETHODIMP_(void) VolumeTexture::PreLoad()
{
    prepareOnDeviceThread(device(), *this);
}

STDMETHODIMP VolumeTexture::GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc)
{
    if (!pDesc || Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return volume(Level)->GetDesc(pDesc);
}

STDMETHODIMP VolumeTexture::GetVolumeLevel(UINT Level, IDirect3DVolume9** ppVolumeLevel)
{
    if (!ppVolumeLevel)
        return D3DERR_INVALIDCALL;
    *ppVolumeLevel = nullptr;
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    Volume* v = volume(Level);
    v->AddRef();
    *ppVolumeLevel = v;
    return D3D_OK;
}

STDMETHODIMP VolumeTexture::LockBox(UINT Level, D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags)
{
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return volume(Level)->LockBox(pLockedVolume, pBox, Flags);
}

STDMETHODIMP VolumeTexture::UnlockBox(UINT Level)
{
    if (Level >= levelCount())
        return D3DERR_INVALIDCALL;
    return volume(Level)->UnlockBox();
}

STDMETHODIMP VolumeTexture::AddDirtyBox(const D3DBOX*)
{
    return D3D_OK;
}

Volume::Volume(Device* device, TextureStorage* container, UINT level, UINT width, UINT height, UINT depth)
    : DeviceChild<IDirect3DVolume9>(device)
    , m_container(container)
    , m_level(level)
    , m_width(width)
    , m_height(height)
    , m_depth(depth)
{
    m_rowPitch = formatPitch(container->format(), width);
    m_slicePitch = m_rowPitch * formatRows(container->format(), height);
    m_memory.assign(size_t(m_slicePitch) * depth, 0);
}

STDMETHODIMP Volume::QueryInterface(REFIID riid, void** ppvObject)
{
    return answerInterface<IDirect3DVolume9>(this, riid, ppvObject, {&IID_IDirect3DVolume9});
}

STDMETHODIMP_(ULONG) Volume::AddRef()
{
    return m_container->baseInterface()->AddRef();
}

STDMETHODIMP_(ULONG) Volume::Release()
{
    return m_container->baseInterface()->Release();
}

STDMETHODIMP Volume::SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags)
{
    return m_privateData.set(refguid, pData, SizeOfData, Flags);
}

STDMETHODIMP Volume::GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData)
{
    return m_privateData.get(refguid, pData, pSizeOfData);
}

STDMETHODIMP Volume::FreePrivateData(REFGUID refguid)
{
    return m_privateData.free(refguid);
}

STDMETHODIMP Volume::GetContainer(REFIID riid, void** ppContainer)
{
    if (!ppContainer)
        return D3DERR_INVALIDCALL;
    *ppContainer = nullptr;
    return m_container->queryInterface(riid, ppContainer);
}

STDMETHODIMP Volume::GetDesc(D3DVOLUME_DESC* pDesc)
{
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    pDesc->Format = m_container->format().format;
    pDesc->Type = D3DRTYPE_VOLUME;
    pDesc->Usage = m_container->usage();
    pDesc->Pool = m_container->pool();
    pDesc->Width = m_width;
    pDesc->Height = m_height;
    pDesc->Depth = m_depth;
    return D3D_OK;
}

STDMETHODIMP Volume::LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags)
{
    DeviceLock lock(device());
    if (!pLockedVolume)
        return D3DERR_INVALIDCALL;
    pLockedVolume->pBits = nullptr;
    pLockedVolume->RowPitch = pLockedVolume->SlicePitch = 0;
    if (m_locked)
        return D3DERR_INVALIDCALL;
    D3DBOX box{0, 0, m_width, m_height, 0, m_depth};
    if (pBox) {
        box = *pBox;
        if (box.Left >= box.Right || box.Top >= box.Bottom || box.Front >= box.Back || box.Right > m_width ||
            box.Bottom > m_height || box.Back > m_depth)
            return D3DERR_INVALIDCALL;
    }
    const FormatInfo& f = m_container->format();
    const size_t offset = size_t(box.Front) * m_slicePitch + size_t(formatRows(f, box.Top)) * m_rowPitch +
                          size_t(f.compressed ? box.Left / 4 : box.Left) * f.bytes;
    pLockedVolume->pBits = m_memory.data() + offset;
    pLockedVolume->RowPitch = INT(m_rowPitch);
    pLockedVolume->SlicePitch = INT(m_slicePitch);
    m_locked = true;
    m_lockFlags = Flags;
    return D3D_OK;
}

STDMETHODIMP Volume::UnlockBox()
{
    DeviceLock lock(device());
    if (!m_locked)
        return D3DERR_INVALIDCALL;
    m_locked = false;
    if (m_lockFlags & D3DLOCK_READONLY)
        return D3D_OK;
    m_gpuStale = true;
    m_container->notePending();
    if (device()->onDeviceThread() && m_container->existingGlTexture()) {
        ContextScope scope(device()->glContext());
        if (scope.ok())
            uploadIfPending(m_container->existingGlTexture());
    }
    return D3D_OK;
}

bool Volume::uploadIfPending(GLuint texture)
{
    if (!m_gpuStale)
        return true;
    m_gpuStale = false;
    return uploadTexels(texture, GL_TEXTURE_3D, m_container->format(), GLint(m_level), 0, 0, 0, GLsizei(m_width),
                        GLsizei(m_height), GLsizei(m_depth), m_memory.data(), m_rowPitch, m_slicePitch);
}

} // namespace platform::d3d9

// Textures: 2D, cube and volume. TextureStorage is what the three share
// (the GL texture, levels, LOD, pending uploads); the COM classes only
// expose it. Levels are Surface objects (2D, cube faces) or Volume objects.
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/surface.h"

#include <atomic>
#include <memory>
#include <vector>

namespace platform::d3d9 {

class Volume;

class TextureStorage {
public:
    TextureStorage(Device* device, D3DRESOURCETYPE type, UINT width, UINT height, UINT depth, UINT levels,
                   DWORD usage, const FormatInfo& format, D3DPOOL pool);
    virtual ~TextureStorage();

    virtual IDirect3DBaseTexture9* baseInterface() = 0;
    virtual HRESULT queryInterface(REFIID riid, void** ppv) = 0;

    D3DRESOURCETYPE type() const { return m_type; }
    UINT width() const { return m_width; }
    UINT height() const { return m_height; }
    UINT depth() const { return m_depth; }
    UINT levelCount() const { return m_levels; }
    DWORD usage() const { return m_usage; }
    D3DPOOL pool() const { return m_pool; }
    const FormatInfo& format() const { return m_format; }
    GLenum glTarget() const;
    // The GL texture, made on first use (device thread, context current);
    // 0 (logged) when it cannot be made.
    GLuint glTexture();
    GLuint existingGlTexture() const { return m_texture; }

    // Before a draw samples it: the GL texture exists and has every CPU
    // write. Cheap when nothing is pending.
    bool prepareForDraw()
    {
        return (m_texture && !m_pending.load(std::memory_order_acquire)) || uploadPending();
    }
    // A level got CPU writes that GL lacks.
    void notePending() { m_pending.store(true, std::memory_order_release); }

    DWORD setLod(DWORD lod);
    DWORD lod() const { return m_lod; }
    HRESULT setAutoGenFilter(D3DTEXTUREFILTERTYPE filter);
    D3DTEXTUREFILTERTYPE autoGenFilter() const { return m_autoGenFilter; }
    void generateMipSubLevels();

    // Level surfaces: index level for 2D, face * levels + level for cubes.
    Surface* surface(UINT index) const { return index < m_surfaces.size() ? m_surfaces[index].get() : nullptr; }
    Volume* volume(UINT level) const;

protected:
    bool uploadPending();
    void makeLevels();

    Device* m_storageDevice;
    D3DRESOURCETYPE m_type;
    UINT m_width, m_height, m_depth, m_levels;
    DWORD m_usage;
    const FormatInfo& m_format;
    D3DPOOL m_pool;
    DWORD m_lod = 0;
    D3DTEXTUREFILTERTYPE m_autoGenFilter = D3DTEXF_LINEAR;
    GLuint m_texture = 0;
    std::atomic<bool> m_pending{false};
    std::vector<std::unique_ptr<Surface>> m_surfaces;
    std::vector<std::unique_ptr<Volume>> m_volumes;
};

// The storage behind a texture interface of ours, or null.
TextureStorage* asTextureStorage(IDirect3DBaseTexture9* texture);

class Texture2D final : public Resource<IDirect3DTexture9>, public TextureStorage {
public:
    Texture2D(Device* device, UINT width, UINT height, UINT levels, DWORD usage, const FormatInfo& format,
              D3DPOOL pool);
    ~Texture2D() override;

    IDirect3DBaseTexture9* baseInterface() override { return this; }
    HRESULT queryInterface(REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(void) PreLoad() override;
    STDMETHODIMP_(DWORD) SetLOD(DWORD LODNew) override { return setLod(LODNew); }
    STDMETHODIMP_(DWORD) GetLOD() override { return lod(); }
    STDMETHODIMP_(DWORD) GetLevelCount() override { return levelCount(); }
    STDMETHODIMP SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override { return setAutoGenFilter(FilterType); }
    STDMETHODIMP_(D3DTEXTUREFILTERTYPE) GetAutoGenFilterType() override { return autoGenFilter(); }
    STDMETHODIMP_(void) GenerateMipSubLevels() override { generateMipSubLevels(); }
    STDMETHODIMP GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    STDMETHODIMP GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    STDMETHODIMP LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    STDMETHODIMP UnlockRect(UINT Level) override;
    STDMETHODIMP AddDirtyRect(const RECT* pDirtyRect) override;
};

class CubeTexture final : public Resource<IDirect3DCubeTexture9>, public TextureStorage {
public:
    CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, const FormatInfo& format, D3DPOOL pool);
    ~CubeTexture() override;

    IDirect3DBaseTexture9* baseInterface() override { return this; }
    HRESULT queryInterface(REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(void) PreLoad() override;
    STDMETHODIMP_(DWORD) SetLOD(DWORD LODNew) override { return setLod(LODNew); }
    STDMETHODIMP_(DWORD) GetLOD() override { return lod(); }
    STDMETHODIMP_(DWORD) GetLevelCount() override { return levelCount(); }
    STDMETHODIMP SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override { return setAutoGenFilter(FilterType); }
    STDMETHODIMP_(D3DTEXTUREFILTERTYPE) GetAutoGenFilterType() override { return autoGenFilter(); }
    STDMETHODIMP_(void) GenerateMipSubLevels() override { generateMipSubLevels(); }
    STDMETHODIMP GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    STDMETHODIMP GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level, IDirect3DSurface9** ppCubeMapSurface) override;
    STDMETHODIMP LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                          DWORD Flags) override;
    STDMETHODIMP UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) override;
    STDMETHODIMP AddDirtyRect(D3DCUBEMAP_FACES FaceType, const RECT* pDirtyRect) override;

private:
    Surface* faceSurface(D3DCUBEMAP_FACES face, UINT level) const;
};

class VolumeTexture final : public Resource<IDirect3DVolumeTexture9>, public TextureStorage {
public:
    VolumeTexture(Device* device, UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                  const FormatInfo& format, D3DPOOL pool);
    ~VolumeTexture() override;

    IDirect3DBaseTexture9* baseInterface() override { return this; }
    HRESULT queryInterface(REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(void) PreLoad() override;
    STDMETHODIMP_(DWORD) SetLOD(DWORD LODNew) override { return setLod(LODNew); }
    STDMETHODIMP_(DWORD) GetLOD() override { return lod(); }
    STDMETHODIMP_(DWORD) GetLevelCount() override { return levelCount(); }
    STDMETHODIMP SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override { return setAutoGenFilter(FilterType); }
    STDMETHODIMP_(D3DTEXTUREFILTERTYPE) GetAutoGenFilterType() override { return autoGenFilter(); }
    STDMETHODIMP_(void) GenerateMipSubLevels() override { generateMipSubLevels(); }
    STDMETHODIMP GetLevelDesc(UINT Level, D3DVOLUME_DESC* pDesc) override;
    STDMETHODIMP GetVolumeLevel(UINT Level, IDirect3DVolume9** ppVolumeLevel) override;
    STDMETHODIMP LockBox(UINT Level, D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) override;
    STDMETHODIMP UnlockBox(UINT Level) override;
    STDMETHODIMP AddDirtyBox(const D3DBOX* pDirtyBox) override;
};

// A level of a volume texture; reference counts go to the texture.
class Volume final : public DeviceChild<IDirect3DVolume9> {
public:
    Volume(Device* device, TextureStorage* container, UINT level, UINT width, UINT height, UINT depth);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override;
    STDMETHODIMP GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override;
    STDMETHODIMP FreePrivateData(REFGUID refguid) override;
    STDMETHODIMP GetContainer(REFIID riid, void** ppContainer) override;
    STDMETHODIMP GetDesc(D3DVOLUME_DESC* pDesc) override;
    STDMETHODIMP LockBox(D3DLOCKED_BOX* pLockedVolume, const D3DBOX* pBox, DWORD Flags) override;
    STDMETHODIMP UnlockBox() override;

    // GL side (device thread): uploads the CPU copy when it is newer.
    bool uploadIfPending(GLuint texture);

private:
    TextureStorage* m_container;
    UINT m_level, m_width, m_height, m_depth;
    UINT m_rowPitch = 0, m_slicePitch = 0;
    std::vector<unsigned char> m_memory;
    bool m_gpuStale = false;
    bool m_locked = false;
    DWORD m_lockFlags = 0;
    PrivateData m_privateData;
};

} // namespace platform::d3d9

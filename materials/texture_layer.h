// One texture block of a surface (an "IMAP", "PROC" or "GRAD" block of an
// object file): which channel it modulates, its texture, how the texture is
// projected onto the polygons, and the gradient that makes a generated
// texture.
//
// Ownership: a layer owns its gradient key list, its name and its counted
// UV-map references. Its texture belongs to the metascene's texture list,
// and the envelopes of its animated values to the object file's
// EnvelopeOwner; the layer only points at both. Copies (a procedural
// texture keeps one) add their own UV-map references.
#pragma once

#include "foundation/animated_value.h"
#include "foundation/byte_string.h"
#include "foundation/types.h"
#include "materials/vertex_maps.h"

#include <d3d9types.h>

#include <vector>

class Texture;

// A four-character file id as one 32-bit word with the first character in
// the lowest byte: the characters as they stand in the file, so ids compare
// character by character. The shader pairs make the same word from the
// first four characters of a sampler name.
constexpr u32 iffId(const char* fourChars)
{
    return (u32)(u8)fourChars[0] | (u32)(u8)fourChars[1] << 8 | (u32)(u8)fourChars[2] << 16 |
           (u32)(u8)fourChars[3] << 24;
}

inline constexpr u32 channelCOLR = iffId("COLR");
inline constexpr u32 channelDIFF = iffId("DIFF");
inline constexpr u32 channelLUMI = iffId("LUMI");
inline constexpr u32 channelSPEC = iffId("SPEC");
inline constexpr u32 channelGLOS = iffId("GLOS");
inline constexpr u32 channelREFL = iffId("REFL");
inline constexpr u32 channelTRAN = iffId("TRAN");
inline constexpr u32 channelRIND = iffId("RIND");
inline constexpr u32 channelTRNL = iffId("TRNL");
inline constexpr u32 channelBUMP = iffId("BUMP");

inline constexpr u32 blockIMAP = iffId("IMAP");
inline constexpr u32 blockPROC = iffId("PROC");
inline constexpr u32 blockGRAD = iffId("GRAD");

class TextureLayer {
public:
    enum Projection : i32 {
        projectionNone = -1,
        projectionPlanar = 0,
        projectionCylindrical = 1,
        projectionSpherical = 2,
        projectionCubic = 3,
        projectionFront = 4,
        projectionUV = 5,
        projectionPosition = 6,
    };
    enum Axis : i32 { axisX = 0, axisY = 1, axisZ = 2 };

    // One "FKEY" entry with its "IKEY" interpolation; the defaults are those
    // a key gets before the file's values overwrite it.
    struct GradientKey {
        float input = 0.0f;
        float red = 0.0f;
        float green = 0.0f;
        float blue = 0.0f;
        float alpha = 1.0f;
        i32 interpolation = 1;
    };

    u32 blockType = 0xFFFFFFFFu; // IMAP, PROC or GRAD
    u32 channel = 0xFFFFFFFFu;   // COLR, DIFF, LUMI, SPEC, GLOS, REFL, TRAN, RIND, TRNL or BUMP
    i32 opacityType = 0;
    AnimatedValue opacity{1.0f, nullptr};
    u8 enabled = 1;
    u8 invert = 0;
    Texture* texture = nullptr; // not owned
    // Evaluated by the gradient texture at each input: red, green, blue,
    // alpha.
    AnimatedValue gradient[4];
    std::vector<GradientKey> gradientKeys;
    float gradientRangeStart = 0.0f;
    float gradientRangeEnd = 0.0f;
    i32 gradientParameter = -1; // index of the PNAM name among the gradient inputs
    i32 gradientSpare = 0;      // stored only
    String name;                // selects the procedural of a procedural texture
    AnimatedValue center[3];    // x, y, z
    AnimatedValue rotation[3];  // heading, pitch, bank in radians
    AnimatedValue size[3] = {{1.0f, nullptr}, {1.0f, nullptr}, {1.0f, nullptr}};
    float wrapAmountWidth = 1.0f;
    float wrapAmountHeight = 1.0f;
    i32 axis = axisX;
    i32 projection = projectionNone;
    // D3DTEXTUREADDRESS values: wrap 1, mirror 2, clamp 3, border 4.
    i32 wrapModeWidth = 1;
    i32 wrapModeHeight = 1;
    float antialiasingStrength = 1.0f;
    u8 pixelBlending = 1;
    AnimatedValue bumpAmplitude;
    // cachedMatrix's result, made on first use and kept for the layer's life.
    u8 matrixValid = 0;
    D3DMATRIX matrix = {{{0.0f, 0.0f, 0.0f, 0.0f,
                          0.0f, 0.0f, 0.0f, 0.0f,
                          0.0f, 0.0f, 0.0f, 0.0f,
                          0.0f, 0.0f, 0.0f, 1.0f}}};
    // Indexed by object layer number.
    std::vector<MapRef<UVMap>> uvMaps;

    // The layer takes part in drawing: enabled and with a texture.
    bool usable() const { return enabled != 0 && texture != nullptr; }
    // Any of the nine transform values (centre, rotation, size) has an
    // envelope: its coordinates are then projected at draw time.
    bool transformAnimated() const;

    // The planar transform at a time: centre, rotation and size evaluated
    // there (an envelope's value is stored back into its float), scaled by
    // 1/size and offset by 0.5. A zero size on an axis counts as 1.
    D3DMATRIX getMatrix(double time);
    // The transform the texture coordinates are made with, computed once:
    // for cylindrical and spherical layers the rotation about the centre
    // (without size and offset), for every other layer getMatrix(0.0).
    const D3DMATRIX& cachedMatrix();
    // What an animated layer's draw turns its corner positions into: the
    // two columns of getMatrix(time) that a planar projection on the
    // layer's axis reads, as u in column 0 and v in column 1 (rotation rows
    // and translation row), zero elsewhere. A position (x, y, z, 1) times
    // this matrix gives the (u, v) that a still layer with that placement
    // gets from the mesh build.
    D3DMATRIX texCoordMatrix(double time);
    // Rotation about the centre from the stored floats: positions as row
    // vectors, translation in row 3.
    D3DMATRIX rotationMatrix() const;

    UVMap* uvMap(i32 layerNumber) const { return mapAt(uvMaps, layerNumber); }
    // Adds a reference to map at that object layer number.
    void setUVMap(i32 layerNumber, UVMap* map) { setMapAt(uvMaps, layerNumber, map); }

    // A size that cannot divide: 0 counts as 1.
    static float usableSize(float size) { return size == 0.0f ? 1.0f : size; }
};

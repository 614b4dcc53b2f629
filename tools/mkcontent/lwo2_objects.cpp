// The object files of the demo content. Image names are those the picture
// emitters write; an image missing at load time still gives a texture.
#include "tools/mkcontent/content.h"
#include "tools/mkcontent/lwo2_emitter.h"

#include <algorithm>

namespace mkcontent {

namespace {

constexpr float degrees = 3.14159265358979f / 180.0f;
const std::array<float, 3> origin = {0.0f, 0.0f, 0.0f};
const std::array<float, 3> unit = {1.0f, 1.0f, 1.0f};

// One layer 0 of one surface: TAGS, LAYR and the shape.
Lwo2Emitter single(const char* tag, const Shape& s)
{
    Lwo2Emitter e;
    e.tags({tag});
    e.layer(0);
    e.shape(s, 0);
    return e;
}

// An image block on channel: projection (5 = UV through map "UV"), clip;
// size is the texture map's (a planar map spans size about the centre).
void imageBlock(Lwo2Emitter& e, const char* channel, u32 projection, u32 clip, u32 axis = 1,
                const std::array<float, 3>& size = unit)
{
    e.beginBlock("IMAP", channel);
    e.textureMap(origin, size, origin);
    e.u2("PROJ", projection);
    e.u2("AXIS", axis);
    if (clip)
        e.u2("IMAG", clip);
    e.wrap(1, 1);
    e.wrapAmounts(1.0f, 1.0f);
    if (projection == 5)
        e.uvMapName("UV");
    e.antialiasing(1, 1.0f);
    e.u2("PIXB", 1);
    e.endBlock();
}

std::string crate()
{
    Lwo2Emitter e = single("Crate", box(1, 1, 1));
    // The texture turns once in four seconds.
    e.envelope(1, "Rotation", 1, 3, {{0.0f, 0.0f, "LINE", {}}, {4.0f, 6.2831853f, "LINE", {}}});
    // The bump map has its own picture: turned into a normal map on load,
    // it must not be the colour map's texture.
    e.clipStill(1, "crate.jpg");
    e.clipStill(2, "crate_bump.jpg");
    e.beginSurface("Crate");
    e.color(0.8f, 0.7f, 0.5f);
    e.value("DIFF", 1.0f);
    e.value("SPEC", 0.3f);
    e.value("GLOS", 0.5f);
    e.smoothingAngle(60 * degrees);
    e.beginBlock("IMAP", "COLR");
    e.textureMap(origin, unit, origin, 1);
    e.u2("PROJ", 0);
    e.u2("AXIS", 2);
    e.u2("IMAG", 1);
    e.wrap(1, 1);
    e.endBlock();
    e.beginBlock("IMAP", "BUMP");
    e.u2("PROJ", 0);
    e.u2("AXIS", 2);
    e.u2("IMAG", 2);
    e.amplitude(0.5f);
    e.endBlock();
    e.endSurface();
    return e.finish();
}

std::string room()
{
    Lwo2Emitter e;
    e.tags({"Floor", "Wall", "Ceiling"});
    e.layer(0, "Floor");
    e.shape(grid(10, 10, 8, 8), 0);
    e.layer(1, "Walls");
    Shape walls = box(10, 4, 10);
    walls.translate(0, 2, 0);
    for (auto& face : walls.faces) // seen from inside
        std::reverse(face.begin(), face.end());
    walls.faces.erase(walls.faces.begin() + 2, walls.faces.begin() + 4); // no floor or ceiling
    e.shape(walls, 1);
    // The ceiling (layer 2), seen from below. A surface of its own without a
    // light map: in the walls' it would bake over their texels.
    e.layer(2, "Ceiling");
    Shape ceiling = grid(10, 10, 1, 1);
    for (auto& face : ceiling.faces)
        std::reverse(face.begin(), face.end());
    ceiling.translate(0, 4, 0);
    e.shape(ceiling, 2, nullptr);
    e.clipStill(1, "floor.tga");
    e.clipStill(2, "wall.pcx");
    for (u32 s = 0; s < 2; ++s) {
        e.beginSurface(s == 0 ? "Floor" : "Wall");
        e.color(1, 1, 1);
        e.value("DIFF", 1.0f);
        imageBlock(e, "COLR", 5, s + 1);
        // A UV diffuse layer without an image: the light map the bake pass renders.
        imageBlock(e, "DIFF", 5, 0);
        e.endSurface();
    }
    e.beginSurface("Ceiling");
    e.color(0.9f, 0.88f, 0.82f);
    e.value("DIFF", 0.8f);
    e.endSurface();
    return e.finish();
}

// A flat mirror reflects towards its local -Y: the grid turned over.
Shape mirrorQuad()
{
    Shape s = grid(2, 2, 1, 1);
    for (std::vector<u32>& face : s.faces)
        std::reverse(face.begin(), face.end());
    return s;
}

std::string reflector(const char* tag, const Shape& s, float reflection, u32 options, const char* image)
{
    Lwo2Emitter e = single(tag, s);
    if (image) {
        e.clipStill(1, image);
        e.clipReference(2, 1, "(reflection)");
    }
    e.beginSurface(tag);
    e.color(0.6f, 0.6f, 0.7f);
    e.value("REFL", reflection);
    e.u2("RFOP", options);
    if (image)
        e.u2("RIMG", 2);
    e.smoothingAngle(89 * degrees);
    e.endSurface();
    return e.finish();
}

std::string glass()
{
    Lwo2Emitter e = single("Glass", box(1, 1, 1));
    e.clipStill(1, "decal.tga");
    e.clipStill(2, "mask.bmp");
    e.beginSurface("Glass");
    e.color(0.9f, 0.95f, 1.0f);
    e.u2("SIDE", 3);
    imageBlock(e, "COLR", 5, 1);
    imageBlock(e, "TRAN", 5, 2);
    e.endSurface();
    return e.finish();
}

std::string lumi()
{
    Lwo2Emitter e = single("Lumi", box(1, 1, 1));
    // Every span kind once.
    e.envelope(1, "Glow", 1, 4,
               {{0.0f, 0.0f, "TCB ", {0.0f, 0.0f, 0.0f}},
                {1.0f, 1.0f, "HERM", {0.0f, 0.0f}},
                {2.0f, 0.5f, "BEZI", {0.0f, 0.0f}},
                {3.0f, 1.0f, "BEZ2", {-0.2f, 1.0f, 0.2f, 1.0f}},
                {4.0f, 0.2f, "LINE", {}},
                {5.0f, 0.0f, "STEP", {}}});
    e.beginSurface("Lumi");
    e.color(1.0f, 0.8f, 0.3f);
    e.value("LUMI", 1.0f, 1);
    e.value("ADTR", 0.3f);
    e.endSurface();
    return e.finish();
}

std::string plain(const char* tag, const Shape& s, std::array<float, 3> rgb)
{
    Lwo2Emitter e = single(tag, s);
    e.beginSurface(tag);
    e.color(rgb[0], rgb[1], rgb[2]);
    e.value("DIFF", 0.9f);
    e.endSurface();
    return e.finish();
}

// The grid stood up about x: its face turns from +y to +z, so the winding
// is reversed to face -z.
Shape standUp(Shape s, float z)
{
    for (auto& p : s.points) {
        p[1] = -p[2];
        p[2] = z;
    }
    for (std::vector<u32>& face : s.faces)
        std::reverse(face.begin(), face.end());
    return s;
}

std::string imagePanel(const char* tag, const char* image)
{
    const Shape quad = standUp(grid(2, 1.5f, 1, 1), 0.0f); // upright, facing -z
    Lwo2Emitter e = single(tag, quad);
    e.clipStill(1, image);
    e.beginSurface(tag);
    e.color(1, 1, 1);
    e.value("LUMI", 1.0f);
    // The picture once over the quad, its top row at the top: a planar map
    // along z runs v with +y, so the height is negative.
    imageBlock(e, "COLR", 0, 1, 2, {2.0f, -1.5f, 1.0f});
    e.endSurface();
    return e.finish();
}

// A screen showing the clip the content build encodes into the archive.
std::string videoScreen()
{
    Lwo2Emitter e = single("Video", standUp(grid(1.6f, 1.2f, 1, 1), 0.0f)); // two-sided
    e.clipAnimation(1, "videos/screen.avi");
    e.beginSurface("Video");
    e.color(1, 1, 1);
    e.value("LUMI", 1.0f);
    e.u2("SIDE", 3);
    imageBlock(e, "COLR", 5, 1);
    e.endSurface();
    return e.finish();
}

std::string monitor()
{
    Lwo2Emitter e;
    e.tags({"Case", "Screen"});
    e.layer(0);
    Shape body = box(1.2f, 0.9f, 0.2f);
    const u32 caseFaces = u32(body.faces.size());
    // Just in front of the case's -z face, facing away from it.
    body.append(standUp(grid(1.0f, 0.75f, 1, 1), -0.11f));
    e.points(body);
    e.polygons(body.faces);
    std::vector<u32> tags(body.faces.size(), 0);
    for (size_t i = caseFaces; i < tags.size(); ++i)
        tags[i] = 1;
    e.polygonTags(tags);
    e.clipStill(1, "grey.jpg");
    e.clipStill(2, "metal.jpg");
    e.beginSurface("Case");
    // Brushed steel; the colour scales the picture.
    e.color(0.75f, 0.78f, 0.82f);
    e.value("SPEC", 0.4f);
    e.value("GLOS", 0.6f);
    imageBlock(e, "COLR", 5, 2);
    e.endSurface();
    e.beginSurface("Screen");
    e.color(1, 1, 1);
    e.value("LUMI", 1.0f);
    // Replaced by a scene's render target at run time.
    imageBlock(e, "COLR", 0, 1, 2);
    e.endSurface();
    return e.finish();
}

// The particle scene's stage: a floor and, behind the emitters, a wall,
// both finely divided so that vertex lighting shows a near light's pool.
std::string backdrop()
{
    Lwo2Emitter e;
    e.tags({"Ground", "Backdrop"});
    e.layer(0);
    Shape stage = grid(12, 8, 24, 16).translate(0, 0, -0.5f);
    const u32 floorFaces = u32(stage.faces.size());
    stage.append(standUp(grid(12, 6, 24, 12), 0.0f).translate(0, 3, 3.5f));
    e.points(stage);
    e.polygons(stage.faces);
    std::vector<u32> tags(stage.faces.size(), 1);
    std::fill(tags.begin(), tags.begin() + floorFaces, 0u);
    e.polygonTags(tags);
    e.beginSurface("Ground");
    e.color(0.45f, 0.42f, 0.4f);
    e.value("DIFF", 0.9f);
    e.endSurface();
    e.beginSurface("Backdrop");
    e.color(0.55f, 0.58f, 0.68f);
    e.value("DIFF", 0.9f);
    e.endSurface();
    return e.finish();
}

std::string sequence()
{
    Lwo2Emitter e = single("Sequence", box(1, 1, 1));
    e.clipSequence(1, 3, 0, 1, 8, "seq/frame", ".jpg", 8.0f);
    e.beginSurface("Sequence");
    e.color(1, 1, 1);
    imageBlock(e, "COLR", 5, 1);
    e.endSurface();
    return e.finish();
}

std::string gradient()
{
    Lwo2Emitter e = single("Gradient", sphere(1, 8, 12));
    e.beginSurface("Gradient");
    e.color(1, 1, 1);
    e.beginBlock("GRAD", "COLR");
    e.textureMap(origin, unit, origin);
    e.gradient("Y Distance to Object", 0.0f, 1.0f,
               {{0.0f, 1.0f, 0.0f, 0.0f, 1.0f}, {0.5f, 0.0f, 1.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f, 1.0f, 1.0f}},
               {1, 1, 1});
    e.endBlock();
    e.endSurface();
    return e.finish();
}

std::string partigon()
{
    Lwo2Emitter e;
    e.tags({"Particle"});
    e.layer(0);
    Shape dot;
    dot.points = {{0.0f, 0.0f, 0.0f}};
    e.points(dot);
    e.polygons({{0}}, "PTCL");
    e.polygonTags(1, 0);
    e.beginSurface("Particle");
    e.color(1, 1, 1);
    e.endSurface();
    return e.finish();
}

// Layers 0 and 2 with every vertex-map kind: parsing coverage.
std::string multilayer()
{
    Lwo2Emitter e;
    e.tags({"Painted"});
    const Shape cube = box(1, 1, 1);
    for (u32 number : {0u, 2u}) {
        e.layer(number);
        e.points(cube);
        const std::vector<u32> all = {0, 1, 2, 3, 4, 5, 6, 7};
        std::vector<float> rgb, rgba, morph, uv;
        for (u32 i = 0; i < 8; ++i) {
            const float c = float(i) / 7.0f;
            rgb.insert(rgb.end(), {c, 1.0f - c, 0.5f});
            rgba.insert(rgba.end(), {c, 0.5f, 1.0f - c, 1.0f});
            morph.insert(morph.end(), {0.0f, 0.1f * float(i), 0.0f});
            uv.insert(uv.end(), cube.uv[i].begin(), cube.uv[i].end());
        }
        e.vertexMap("TXUV", "UV", all, uv);
        e.vertexMap("RGB ", "Paint", all, rgb);
        e.vertexMap("RGBA", "PaintAlpha", all, rgba);
        e.vertexMap("MORF", "Stretch", all, morph);
        e.polygons(cube.faces);
        e.polygonTags(u32(cube.faces.size()), 0);
        e.discontinuousUV("UV", {{0, 0, 0.25f, 0.75f}, {3, 4, 0.5f, 0.5f}});
    }
    e.beginSurface("Painted");
    e.color(1, 1, 1);
    e.vertexColors("RGB ", "Paint");
    e.endSurface();
    return e.finish();
}

// Layer n holds letter 'A' + n; the text overlay places them half a unit apart.
std::string font()
{
    Lwo2Emitter e;
    e.tags({"Font"});
    for (u32 n = 0; n < 26; ++n) {
        e.layer(n, std::string(1, char('A' + n)).c_str());
        e.shape(letter(char('A' + n), 0.08f, 0.08f), 0, nullptr);
    }
    e.beginSurface("Font");
    e.color(1, 1, 1);
    e.value("LUMI", 1.0f);
    e.value("DIFF", 0.0f);
    e.endSurface();
    return e.finish();
}

} // namespace

std::vector<ContentFile> lwo2Files()
{
    return {
        {"objects/crate.lwo", crate},
        {"objects/room.lwo", room},
        {"objects/mirror.lwo", [] { return reflector("Mirror", mirrorQuad(), 0.5f, 0, nullptr); }},
        {"objects/ball.lwo", [] { return reflector("Ball", sphere(1, 12, 16), 0.6f, 3, nullptr); }},
        {"objects/chrome.lwo", [] { return reflector("Chrome", sphere(1, 12, 16), 1.0f, 2, "env.jpg"); }},
        {"objects/glass.lwo", glass},
        {"objects/lumi.lwo", lumi},
        // Just wider and taller than the pillar it stands in front of.
        {"objects/AntiPortal.lwo", [] { return plain("AntiPortal", grid(0.9f, 3.3f, 1, 1), {0.1f, 0.1f, 0.1f}); }},
        {"objects/pillar.lwo", [] { return plain("Pillar", box(0.5f, 3, 0.5f).translate(0, 1.5f, 0), {0.7f, 0.7f, 0.6f}); }},
        {"objects/tube.lwo", [] { return plain("Tube", tube(0.3f, 2, 12, 8), {0.4f, 0.6f, 0.9f}); }},
        {"objects/monitor.lwo", monitor},
        {"objects/panel.lwo", [] { return imagePanel("Panel", "panel_noscale.jpg"); }},
        {"objects/video.lwo", videoScreen},
        {"objects/seq.lwo", sequence},
        {"objects/grad.lwo", gradient},
        {"objects/partigon.lwo", partigon},
        {"objects/backdrop.lwo", backdrop},
        {"objects/multilayer.lwo", multilayer},
        {"font.lwo", font},
    };
}

} // namespace mkcontent

#include "lightwave/lws_writer.h"

#include "foundation/byte_string.h"
#include "foundation/diagnostics.h"
#include "foundation/envelope.h"
#include "foundation/file_stream.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "scene/bone.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/object.h"
#include "scene/poly_mesh.h"
#include "scene/scene.h"

#include <cstdarg>
#include <cstdio>
#include <unordered_set>

namespace {

constexpr double kRadiansToDegrees = 57.29577951308232;

std::string itemId(const Node* node)
{
    return formatHex((u32)node->nodeType * 0x10000000u + (u32)node->index).c_str();
}

void writeReferences(std::string& out, const Node* node)
{
    if (node->parent)
        out += "ParentItem " + itemId(node->parent) + "\n";
    if (node->target)
        out += "TargetItem " + itemId(node->target) + "\n";
}

// The 1-based layer number of the object's mesh in its object file.
int layerNumber(Scene* scene, const Object* object)
{
    if (scene->metaScene)
        for (LWObject* file : metaSceneOf(scene->metaScene)->lwObjects)
            if (file)
                for (size_t i = 0; i < file->layers.size(); i++)
                    if (file->layers[i] == object->mesh)
                        return (int)i + 1;
    return 1;
}

// An empty name or one with spaces is quoted: unquoted, the reader would
// take the next word for it.
std::string itemName(const String& text)
{
    std::string name = text.c_str();
    bool plain = !name.empty();
    for (char c : name)
        plain = plain && (unsigned char)c > 0x20 && c != '"';
    return plain ? name : "\"" + name + "\"";
}

// A bone in the keywords the reader takes after its object. A reference to
// a bone is its own id, whose bone number counts within the object that
// added it, as the reader numbers them; the object a bone hangs from is
// implied and not written.
void writeBone(std::string& out, Bone* bone, const Object* object)
{
    out += "\nAddBone\nBoneName " + itemName(bone->name) + "\nBoneMotion\n";
    LwsWriter::writeChannels(out, bone);
    // The rest direction is held as pitch, heading, bank in radians and
    // read as heading, pitch, bank in degrees.
    appendFormat(out, "BoneRestPosition %f %f %f\nBoneRestDirection %f %f %f\nBoneRestLength %f\n",
        bone->restPosition[0], bone->restPosition[1], bone->restPosition[2],
        bone->restDirection[1] * kRadiansToDegrees, bone->restDirection[0] * kRadiansToDegrees,
        bone->restDirection[2] * kRadiansToDegrees, bone->restLength);
    appendFormat(out, "BoneStrength %f\nScaleBoneStrength %d\nBoneLimitedRange %d\nBoneMinRange %f\nBoneMaxRange %f\n",
        bone->strength, bone->scaleStrength ? 1 : 0, bone->limitedRange ? 1 : 0, bone->minRange, bone->maxRange);
    Node* parent = bone->parentBone ? bone->parentBone : bone->parent;
    if (parent && parent != object)
        out += "ParentItem " + itemId(parent) + "\n";
    if (bone->target)
        out += "TargetItem " + itemId(bone->target) + "\n";
}

void writeObject(std::string& out, Scene* scene, Object* object, std::unordered_set<PolyMesh*>& bonesWritten)
{
    if (object->mesh)
        out += "LoadObjectLayer " + std::to_string(layerNumber(scene, object)) + " " +
               lwoObjectName(object->name.c_str()) + "\n";
    else
        out += "AddNullObject null\n";
    out += "ShowObject 6 3\nObjectMotion\n";
    LwsWriter::writeChannels(out, object);
    out += "LockedChannels 40\n";
    appendFormat(out, "PivotPosition %f %f %f\n", object->pivotPosition[0], object->pivotPosition[1],
        object->pivotPosition[2]);
    writeReferences(out, object);
    out += "ShadowOptions 7\n";
    // A mesh's bones follow the first object that carries it: objects that
    // share one mesh share its bone list.
    PolyMesh* mesh = object->mesh ? object->mesh->asPolyMesh() : nullptr;
    if (mesh && !mesh->bones.empty() && bonesWritten.insert(mesh).second) {
        appendFormat(out, "BoneFalloffType %d\n", mesh->boneFalloffType);
        for (Bone* bone : mesh->bones)
            if (bone)
                writeBone(out, bone, object);
    }
    out += "\n";
}

void writeLight(std::string& out, Light* light)
{
    out += "AddLight\nLightName " + itemName(light->name) + "\nShowLight 1 5\nLightMotion\n";
    LwsWriter::writeChannels(out, light);
    writeReferences(out, light);
    appendFormat(out, "LightColor   %f %f %f\n", light->red.value, light->green.value, light->blue.value);
    out += "LightIntensity ";
    LwsWriter::writeEnvelopeRef(out, light->intensity);
    appendFormat(out, "LightType %d\n", light->lightType);
    if (light->lensFlare) {
        out += "LensFlare 1\nFlareIntensity ";
        LwsWriter::writeEnvelopeRef(out, light->flareIntensity);
        appendFormat(out, "FlareDissolve 0\nLensFlareFade %d\nLensFlareOptions %d\n", light->flareFade, light->flareOptions);
    }
    if (light->noSpecular)
        out += "AffectSpecular 0\n";
    if (light->noDiffuse)
        out += "AffectDiffuse 0\n";
    appendFormat(out, "AffectCaustics 0\nLightFalloffType %d\nLightRange ", light->falloffType);
    LwsWriter::writeEnvelopeRef(out, light->range);
    if (light->lightType == 2) {
        // Plain angles are held in radians and read back as degrees.
        out += "LightConeAngle ";
        LwsWriter::writeEnvelopeRef(out, light->coneAngle, (float)kRadiansToDegrees);
        out += "LightEdgeAngle ";
        LwsWriter::writeEnvelopeRef(out, light->edgeAngle, (float)kRadiansToDegrees);
    }
    out += "ShadowType 1\nShadowColor 0 0 0\n\n";
}

void writeCamera(std::string& out, Camera* camera)
{
    out += "AddCamera\nCameraName Camera\nShowCamera 1 2\nCameraMotion\n";
    LwsWriter::writeChannels(out, camera);
    out += "ZoomFactor ";
    LwsWriter::writeEnvelopeRef(out, camera->zoom);
    writeReferences(out, camera);
    out += "ResolutionMultiplier 1.0\nFrameSize 640 480\nPixelAspect 1\nMaskPosition 0 0 640 480\n"
           "MotionBlur 0\nFieldRendering 0\nApertureHeight 0.015\nAntialiasing 0\nAdaptiveSampling 1\n"
           "AdaptiveThreshold 0.1\n\n";
}

} // namespace

void appendFormat(std::string& out, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0)
        out.append(line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
}

std::string lwoObjectName(const char* name)
{
    std::string s = name;
    size_t at = s.find(".lwo");
    return at == std::string::npos ? s : s.substr(0, at + 4);
}

void LwsWriter::writeEnvelope(std::string& out, const Envelope* e)
{
    appendFormat(out, "{ Envelope\n  %d\n", (int)e->keys.size());
    for (const EnvelopeKey& k : e->keys) {
        float p[6] = {};
        if (k.shape == EnvelopeKey::shapeTcb) {
            p[0] = k.tension;
            p[1] = k.continuity;
            p[2] = k.bias;
        } else if (k.shape == EnvelopeKey::shapeHermite || k.shape == EnvelopeKey::shapeBezier) {
            p[3] = k.param[0];
            p[4] = k.param[1];
        } else if (k.shape == EnvelopeKey::shapeBezier2D) {
            for (int i = 0; i < 4; i++)
                p[i] = k.param[i];
        }
        // All six parameters: Hermite and Bezier keys keep theirs in p4, p5.
        appendFormat(out, "  Key %f %f %d %f %f %f %f %f %f\n", k.value, k.time, (int)k.shape, p[0], p[1], p[2], p[3], p[4],
            p[5]);
    }
    appendFormat(out, "  Behaviors %d %d\n}\n", (int)e->preBehavior, (int)e->postBehavior);
}

void LwsWriter::writeConstantEnvelope(std::string& out, float value)
{
    appendFormat(out, "{ Envelope\n  1\n  Key %f 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n", value);
}

void LwsWriter::writeEnvelopeRef(std::string& out, const AnimatedValue& value, float scale)
{
    Envelope* e = value.source ? value.source->asEnvelope() : nullptr;
    if (e) {
        out += "(envelope)\n";
        writeEnvelope(out, e);
    } else {
        appendFormat(out, "%f\n", value.value * scale);
    }
}

void LwsWriter::writeChannels(std::string& out, Node* node)
{
    int count = node->nodeType == 3 ? 6 : 9;
    appendFormat(out, "NumChannels %d\n", count);
    for (int c = 0; c < count; c++) {
        appendFormat(out, "Channel %d\n", c);
        Envelope* e = node->channels[c].source ? node->channels[c].source->asEnvelope() : nullptr;
        if (e)
            writeEnvelope(out, e);
        else
            writeConstantEnvelope(out, node->channels[c].value);
    }
}

std::string LwsWriter::text(Scene* scene)
{
    std::string out;
    appendFormat(out,
        "LWSC\n3\n\nFirstFrame %d\nLastFrame %d\nFrameStep 1\nPreviewFirstFrame %d\nPreviewLastFrame %d\n"
        "PreviewFrameStep 1\nCurrentFrame 0\nFramesPerSecond 30\n\n",
        (int)scene->firstFrame, (int)scene->lastFrame, (int)scene->previewFirstFrame, (int)scene->previewLastFrame);
    // An empty slot is reported and then left out rather than followed.
    std::unordered_set<PolyMesh*> bonesWritten;
    for (Object* object : scene->objects) {
        ENGINE_ASSERT(object && "Please contact the coders. This assert may be 'ignored' - one object might be "
                               "missing in the lws however - restart the program after saving");
        if (object)
            writeObject(out, scene, object, bonesWritten);
    }
    appendFormat(out, "AmbientColor %f %f %f\nAmbientIntensity ", scene->ambientColor[0], scene->ambientColor[1],
        scene->ambientColor[2]);
    writeEnvelopeRef(out, scene->ambientIntensity);
    out += "\n";
    for (Light* light : scene->lights) {
        ENGINE_ASSERT(light && "Please contact the coders. This assert may be 'ignored' - one light might be "
                              "missing in the lws however - restart the program after saving");
        if (light)
            writeLight(out, light);
    }
    for (Camera* camera : scene->cameras) {
        ENGINE_ASSERT(camera && "Please contact the coders. This assert may be 'ignored' - one camera might be "
                               "missing in the lws however - restart the program after saving");
        if (camera)
            writeCamera(out, camera);
    }
    out += "SolidBackdrop 1\nBackdropColor 0 0 0\nZenithColor 0 0.1569 0.3137\nSkyColor 0.4706 0.7059 0.9412\n"
           "GroundColor 0.1961 0.1569 0.1176\nNadirColor 0.3922 0.3137 0.2353\nFogType 0\nDitherIntensity 1\n"
           "AnimatedDither 0\nRenderMode 2\nRayTraceEffects 0\nRayRecursionLimit 16\nRayTraceOptimization 1\n"
           "DataOverlayLabel  \nOutputFilenameFormat 3\nSaveRGB 0\nRGBImageSaver LW_BMP24(.bmp)\nSaveAlpha 0\n"
           "ViewConfiguration 0\nDefineView 0\nViewType 9\nViewAimpoint -5.951869 0.1554811 -0.7752526\n"
           "ViewZoomFactor 1.230417\n";
    appendFormat(out, "GridNumber %d\nGridSize %f\n", scene->gridNumber, scene->gridSize);
    out += "CameraViewBG 0\nShowMotionPath 1\nShowFogRadius 0\nShowFogEffect 0\nShowSafeAreas 0\n"
           "ShowFieldChart 0\nCurrentObject 0\nCurrentLight 0\nCurrentCamera 0\n\n"
           "GraphEditorData\n{ GraphEd_Favorites\n}\n{ GE_Expression_Lib\n}\n";
    return out;
}

bool LwsWriter::write(Scene* scene, const char* fileName)
{
    std::string out = text(scene);
    FileStream stream(".\\;..\\");
    if (!stream.create(fileName))
        return false;
    bool written = stream.write(out.data(), (u32)out.size()) == out.size();
    stream.close();
    return written;
}

// GLSL for a fixed-function key: the vertex stage (transform, lighting,
// texture coordinates, vertex fog, clip distances) and the pixel stage
// (texture stages, specular add, fog, alpha test). The formulas are
// Direct3D 9's documented ones; the comments note where a choice was made.
#include "platform/d3d9/fixed_function.h"

#include <cstdio>

namespace platform::d3d9 {

namespace {

static_assert(kFixedFunctionUniformBinding == 14, "the block below names its binding");

// The uniform block both stages declare (identically, so that they link);
// its memory layout is FixedFunctionPipeline::Uniforms. Matrices are the
// Direct3D matrices uploaded as they are, so `m * v` is Direct3D's v x M.
const char* const kUniformBlock = R"(layout(std140, binding = 14) uniform FixedFunctionUniforms {
    mat4 worldViewProj;
    mat4 worldView;
    mat4 normalMatrix;
    mat4 world;
    mat4 textureMatrix[8];
    vec4 lightDiffuse[8];
    vec4 lightSpecular[8];
    vec4 lightAmbient[8];
    vec4 lightPosition[8];
    vec4 lightDirection[8];
    vec4 lightSpot[8];
    vec4 lightAttenuation[8];
    vec4 materialDiffuse;
    vec4 materialAmbient;
    vec4 materialSpecular;
    vec4 materialEmissive;
    vec4 globalAmbient;
    vec4 fogColor;
    vec4 fogParams;
    vec4 textureFactor;
    vec4 stageConstant[8];
    vec4 clipPlane[6];
    vec4 viewportRect;
    vec4 depthRange;
    vec4 misc;
    vec4 dx_PosFixup;
};
)";

std::string format(const char* fmt, int a)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, fmt, a);
    return buffer;
}

// Fog factor of a depth d by mode (D3DFOG_EXP, EXP2, LINEAR), clamped to 0..1.
std::string fogExpression(int mode)
{
    switch (mode) {
    case D3DFOG_EXP:
        return "exp(-d * fogParams.z)";
    case D3DFOG_EXP2:
        return "exp(-(d * fogParams.z) * (d * fogParams.z))";
    default:
        // (end - d) / (end - start); start == end puts everything beyond
        // the end in fog.
        return "(fogParams.y != fogParams.x ? (fogParams.y - d) / (fogParams.y - fogParams.x) : "
               "(d < fogParams.y ? 1.0 : 0.0))";
    }
}

void declareVaryings(std::string& s, const FixedFunctionKey& key, const char* direction, const char* suffix = "")
{
    const char* flat = key.flatShade ? "flat " : "";
    s += std::string("layout(location = 0) ") + flat + direction + " vec4 vDiffuse" + suffix + ";\n";
    s += std::string("layout(location = 1) ") + flat + direction + " vec4 vSpecular" + suffix + ";\n";
    s += std::string("layout(location = 2) ") + direction + " float vFog" + suffix + ";\n";
    for (int i = 0; i < 8; ++i) {
        if (key.stages[i].textureKind != 0)
            s += format("layout(location = %d) ", 3 + i) + direction + format(" vec4 vTex%d", i) + suffix + ";\n";
    }
}

// The fragment's inputs one sub-pixel step above its centre, where the
// primitive moved up has the values it had at the centre (see subpixelStep).
// Points and lines read theirs plainly: offsets on them are not to be relied
// on. A program reads an input one way only: Mesa's linker replaces the plain
// reads of an input whose vertex output it finds constant, and where the same
// input is also read at an offset it puts one component in place of four,
// the others uninitialised memory (Mesa 22.3; its disk cache then keeps the
// garbled program).
void readVaryings(std::string& s, const FixedFunctionKey& key)
{
    const auto read = [&](const std::string& type, const std::string& name, bool flat) {
        s += "    " + type + " " + name + " = ";
        s += flat || !key.offsetInputs ? name + "_in;\n"
                                       : "interpolateAtOffset(" + name + "_in, vec2(0.0, dx_PosFixup.z));\n";
    };
    read("vec4", "vDiffuse", key.flatShade);
    read("vec4", "vSpecular", key.flatShade);
    read("float", "vFog", false);
    for (int i = 0; i < 8; ++i) {
        if (key.stages[i].textureKind != 0)
            read("vec4", format("vTex%d", i), false);
    }
}

// The texture coordinate set as the transform sees it: missing components
// are 1 for the first and 0 for the rest, so that a 2D coordinate is
// (u, v, 1, 0) and the third matrix row translates it.
std::string paddedSet(int set, int size, bool forTransform)
{
    const std::string in = format("inTexCoord%d", set);
    switch (size) {
    case 0:
        return forTransform ? "vec4(0.0, 0.0, 1.0, 0.0)" : "vec4(0.0, 0.0, 0.0, 1.0)";
    case 1:
        return forTransform ? "vec4(" + in + ".x, 1.0, 0.0, 0.0)" : "vec4(" + in + ".x, 0.0, 0.0, 1.0)";
    case 2:
        return forTransform ? "vec4(" + in + ".xy, 1.0, 0.0)" : "vec4(" + in + ".xy, 0.0, 1.0)";
    case 3:
        return "vec4(" + in + ".xyz, 1.0)";
    default:
        return in;
    }
}

std::string lightCode(const FixedFunctionKey& key, int i)
{
    const int type = key.lightTypes[i];
    std::string s = "    {\n";
    if (type == D3DLIGHT_DIRECTIONAL) {
        s += format("        vec3 L = -lightDirection[%d].xyz;\n", i);
        s += "        float k = 1.0;\n";
    } else {
        s += format("        vec3 toLight = lightPosition[%d].xyz - camPos;\n", i);
        s += "        float dist = length(toLight);\n";
        s += "        vec3 L = dist > 0.0 ? toLight / dist : vec3(0.0);\n";
        s += format("        vec4 att = lightAttenuation[%d];\n", i);
        s += "        float den = att.x + att.y * dist + att.z * dist * dist;\n";
        // Beyond Range the light does nothing; a zero denominator (all
        // three factors 0) counts as no attenuation.
        s += "        float k = dist > att.w ? 0.0 : (den > 0.0 ? 1.0 / den : 1.0);\n";
        if (type == D3DLIGHT_SPOT) {
            s += format("        vec4 spot = lightSpot[%d];\n", i);
            s += format("        float rho = dot(-lightDirection[%d].xyz, L);\n", i);
            s += "        if (rho <= spot.w) k = 0.0;\n";
            s += "        else if (rho <= spot.z) {\n";
            s += "            float x = (rho - spot.w) / (spot.z - spot.w);\n";
            s += "            k *= spot.y == 0.0 ? 1.0 : pow(x, spot.y);\n";
            s += "        }\n";
        }
    }
    s += format("        ambientSum += lightAmbient[%d].rgb * k;\n", i);
    s += "        float NdotL = dot(N, L);\n";
    s += "        if (NdotL > 0.0) {\n";
    s += format("            diffuseSum += lightDiffuse[%d].rgb * (NdotL * k);\n", i);
    if (key.specularEnable) {
        s += "            vec3 h = toViewer + L;\n";
        s += "            float hl = length(h);\n";
        s += "            float NdotH = hl > 0.0 ? dot(N, h / hl) : 0.0;\n";
        s += format("            if (NdotH > 0.0) specularSum += lightSpecular[%d].rgb * (pow(NdotH, misc.z) * k);\n",
                     i);
    }
    s += "        }\n";
    s += "    }\n";
    return s;
}

std::string sourceColor(int source, const char* material)
{
    if (source == 1)
        return "inDiffuse";
    if (source == 2)
        return "inSpecular";
    return material;
}

// One argument of stage i: the register, then COMPLEMENT and ALPHAREPLICATE
// (in either order they give 1 - a in every channel).
std::string argument(std::uint8_t arg, int stage)
{
    std::string base;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        base = "diffuse";
        break;
    case D3DTA_TEXTURE:
        base = "tex";
        break;
    case D3DTA_TFACTOR:
        base = "textureFactor";
        break;
    case D3DTA_SPECULAR:
        base = "specular";
        break;
    case D3DTA_TEMP:
        base = "temp";
        break;
    case D3DTA_CONSTANT:
        base = format("stageConstant[%d]", stage);
        break;
    default:
        base = "current";
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        base = "(vec4(1.0) - " + base + ")";
    if (arg & D3DTA_ALPHAREPLICATE)
        base = base + ".aaaa";
    return base;
}

// The operation on the colour (ch "rgb", type vec3) or alpha (ch "a",
// float) channel of the arguments a0, a1, a2 (vec4 variables).
std::string operation(int op, const char* ch, bool alpha)
{
    const std::string c(ch);
    const std::string a0 = "a0." + c, a1 = "a1." + c, a2 = "a2." + c;
    const std::string one = alpha ? "1.0" : "vec3(1.0)";
    switch (op) {
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE:
    case D3DTOP_PREMODULATE: // modulating with the next stage's texture is not emulated
        return a1 + " * " + a2;
    case D3DTOP_MODULATE2X:
        return a1 + " * " + a2 + " * 2.0";
    case D3DTOP_MODULATE4X:
        return a1 + " * " + a2 + " * 4.0";
    case D3DTOP_ADD:
        return a1 + " + " + a2;
    case D3DTOP_ADDSIGNED:
        return a1 + " + " + a2 + " - 0.5";
    case D3DTOP_ADDSIGNED2X:
        return "(" + a1 + " + " + a2 + " - 0.5) * 2.0";
    case D3DTOP_SUBTRACT:
        return a1 + " - " + a2;
    case D3DTOP_ADDSMOOTH:
        return a1 + " + " + a2 + " - " + a1 + " * " + a2;
    case D3DTOP_BLENDDIFFUSEALPHA:
        return "mix(" + a2 + ", " + a1 + ", diffuse.a)";
    case D3DTOP_BLENDTEXTUREALPHA:
        return "mix(" + a2 + ", " + a1 + ", tex.a)";
    case D3DTOP_BLENDFACTORALPHA:
        return "mix(" + a2 + ", " + a1 + ", textureFactor.a)";
    case D3DTOP_BLENDCURRENTALPHA:
        return "mix(" + a2 + ", " + a1 + ", current.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM:
        return a1 + " + " + a2 + " * (1.0 - tex.a)";
    case D3DTOP_MODULATEALPHA_ADDCOLOR:
        return alpha ? a1 : "a1.rgb + a1.a * a2.rgb";
    case D3DTOP_MODULATECOLOR_ADDALPHA:
        return alpha ? a1 : "a1.rgb * a2.rgb + a1.a";
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
        return alpha ? a1 : "(1.0 - a1.a) * a2.rgb + a1.rgb";
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
        return alpha ? a1 : "(vec3(1.0) - a1.rgb) * a2.rgb + a1.a";
    case D3DTOP_DOTPRODUCT3:
        return alpha ? "4.0 * dot(a1.rgb - 0.5, a2.rgb - 0.5)" : "vec3(4.0 * dot(a1.rgb - 0.5, a2.rgb - 0.5))";
    case D3DTOP_MULTIPLYADD:
        return a0 + " + " + a1 + " * " + a2;
    case D3DTOP_LERP:
        return "mix(" + a2 + ", " + a1 + ", " + a0 + ")";
    default: // SELECTARG1; the four colour-only operations on alpha
        return a1;
    }
}

const char* samplerType(int kind)
{
    switch (kind) {
    case int(FixedTextureKind::Cube):
        return "samplerCube";
    case int(FixedTextureKind::Volume):
        return "sampler3D";
    default:
        return "sampler2D";
    }
}

// The coordinate count a stage's texture lookup divides by when projected.
int projectionCount(const FixedFunctionKey& key, const FixedFunctionKey::Stage& stage)
{
    if (stage.transformCount)
        return stage.transformCount;
    if (stage.texGen)
        return 3;
    const int size = key.texCoordSize[stage.texCoordSet];
    return size > 0 ? size : 4;
}

std::string stageCode(const FixedFunctionKey& key, int i)
{
    const FixedFunctionKey::Stage& stage = key.stages[i];
    std::string s = format("    { // stage %d\n", i);
    if (stage.textureKind != 0) {
        std::string coord = format("vTex%d", i);
        if (stage.projected) {
            const int n = projectionCount(key, stage);
            if (n >= 2) {
                const char* last = n == 2 ? "y" : n == 3 ? "z" : "w";
                coord = "(" + coord + " / " + coord + "." + last + ")";
            }
        }
        const char* swizzle = stage.textureKind == int(FixedTextureKind::Texture2D) ? ".xy" : ".xyz";
        s += format("        vec4 tex = texture(texture%d, ", i) + coord + swizzle + ");\n";
    } else {
        // No texture bound: the stage reads opaque white, so that the
        // default MODULATE(TEXTURE, CURRENT) shows the vertex colour.
        s += "        vec4 tex = vec4(1.0);\n";
    }
    const bool bump = stage.colorOp == D3DTOP_BUMPENVMAP || stage.colorOp == D3DTOP_BUMPENVMAPLUMINANCE;
    if (bump) {
        // Bump-map stages perturb the next stage's lookup, which is not
        // emulated; CURRENT after them is the result before them.
        s += "    }\n";
        return s;
    }
    s += "        vec4 a0 = " + argument(stage.colorArg[0], i) + ";\n";
    s += "        vec4 a1 = " + argument(stage.colorArg[1], i) + ";\n";
    s += "        vec4 a2 = " + argument(stage.colorArg[2], i) + ";\n";
    s += "        vec3 rgb = " + operation(stage.colorOp, "rgb", false) + ";\n";
    if (stage.colorOp == D3DTOP_DOTPRODUCT3) {
        s += "        float alpha = rgb.r;\n";
    } else if (stage.alphaOp == D3DTOP_DISABLE) {
        // ALPHAOP DISABLE on an enabled colour stage is left undefined by
        // Direct3D. Rule here: the alpha passes through unchanged from the
        // previous stage (CURRENT, which is the diffuse alpha at stage 0).
        s += "        float alpha = current.a;\n";
    } else {
        s += "        a0 = " + argument(stage.alphaArg[0], i) + ";\n";
        s += "        a1 = " + argument(stage.alphaArg[1], i) + ";\n";
        s += "        a2 = " + argument(stage.alphaArg[2], i) + ";\n";
        s += "        float alpha = " + operation(stage.alphaOp, "a", true) + ";\n";
    }
    s += std::string("        ") + (stage.resultTemp ? "temp" : "current") +
         " = clamp(vec4(rgb, alpha), 0.0, 1.0);\n";
    s += "    }\n";
    return s;
}

} // namespace

std::string generateFixedFunctionVertexShader(const FixedFunctionKey& key)
{
    std::string s = "#version 450 core\n";
    s += kUniformBlock;
    s += "layout(location = 0) in vec4 inPosition;\n";
    if (key.hasNormal)
        s += "layout(location = 3) in vec3 inNormal;\n";
    if (key.hasDiffuse)
        s += "layout(location = 5) in vec4 inDiffuse;\n";
    if (key.hasSpecular)
        s += "layout(location = 6) in vec4 inSpecular;\n";
    bool setUsed[8] = {};
    bool needNormal = key.lighting != 0;
    bool needCamPos = key.lighting || key.fogVertexMode;
    for (int i = 0; i < 8; ++i) {
        const FixedFunctionKey::Stage& stage = key.stages[i];
        if (stage.textureKind == 0)
            continue;
        if (stage.texGen == 0 && key.texCoordSize[stage.texCoordSet] > 0)
            setUsed[stage.texCoordSet] = true;
        if (stage.texGen != 0) {
            needNormal = needNormal || stage.texGen != (D3DTSS_TCI_CAMERASPACEPOSITION >> 16);
            needCamPos = true;
        }
    }
    for (int set = 0; set < 8; ++set) {
        if (setUsed[set])
            s += format("layout(location = %d) ", 8 + set) + format("in vec4 inTexCoord%d;\n", set);
    }
    s += "out gl_PerVertex {\n    vec4 gl_Position;\n    float gl_PointSize;\n    float gl_ClipDistance[6];\n};\n";
    declareVaryings(s, key, "out");
    s += "void main() {\n";
    if (key.positionT) {
        // Screen coordinates back to clip space through the viewport; w is
        // 1/rhw so that interpolation stays perspective-correct, and z lands
        // in the depth buffer unchanged.
        s += "    float w = inPosition.w != 0.0 ? 1.0 / inPosition.w : 1.0;\n";
        s += "    vec2 ndc = vec2((inPosition.x - viewportRect.x) * viewportRect.z - 1.0,\n"
             "                    1.0 - (inPosition.y - viewportRect.y) * viewportRect.w);\n";
        s += "    float z = (inPosition.z - depthRange.x) * depthRange.y;\n";
        s += "    gl_Position = vec4(ndc, z, 1.0) * w;\n";
    } else {
        s += "    gl_Position = worldViewProj * inPosition;\n";
        if (needCamPos)
            s += "    vec3 camPos = (worldView * inPosition).xyz;\n";
        if (needNormal) {
            if (key.hasNormal) {
                s += "    vec3 N = mat3(normalMatrix) * inNormal;\n";
                if (key.normalizeNormals)
                    s += "    if (dot(N, N) > 0.0) N = normalize(N);\n";
            } else {
                // Without normals every dot product with the normal is 0.
                s += "    vec3 N = vec3(0.0);\n";
            }
        }
    }
    s += "    gl_PointSize = misc.y;\n";
    // User clip planes, in world space on this path.
    if (key.clipPlaneMask)
        s += "    vec4 worldPos = world * inPosition;\n";
    for (int j = 0; j < 6; ++j) {
        if (key.clipPlaneMask & (1 << j))
            s += format("    gl_ClipDistance[%d] = ", j) + format("dot(clipPlane[%d], worldPos);\n", j);
        else
            s += format("    gl_ClipDistance[%d] = 1.0;\n", j);
    }

    // Colours.
    if (key.lighting) {
        s += "    vec3 ambientSum = vec3(0.0);\n    vec3 diffuseSum = vec3(0.0);\n    vec3 specularSum = vec3(0.0);\n";
        if (key.specularEnable) {
            // The halfway vector takes the direction to the viewer: to the
            // camera, or straight back down -z when the viewer is not local.
            if (key.localViewer)
                s += "    vec3 toViewer = length(camPos) > 0.0 ? normalize(-camPos) : vec3(0.0, 0.0, -1.0);\n";
            else
                s += "    vec3 toViewer = vec3(0.0, 0.0, -1.0);\n";
        }
        for (int i = 0; i < 8; ++i) {
            if (key.lightTypes[i])
                s += lightCode(key, i);
        }
        s += "    vec4 Cd = " + sourceColor(key.diffuseSource, "materialDiffuse") + ";\n";
        s += "    vec4 Ca = " + sourceColor(key.ambientSource, "materialAmbient") + ";\n";
        s += "    vec4 Ce = " + sourceColor(key.emissiveSource, "materialEmissive") + ";\n";
        s += "    vec3 lit = Ce.rgb + Ca.rgb * (globalAmbient.rgb + ambientSum) + Cd.rgb * diffuseSum;\n";
        s += "    vDiffuse = clamp(vec4(lit, Cd.a), 0.0, 1.0);\n";
        if (key.specularEnable) {
            s += "    vec4 Cs = " + sourceColor(key.specularSource, "materialSpecular") + ";\n";
            s += "    vSpecular = clamp(vec4(Cs.rgb * specularSum, Cs.a), 0.0, 1.0);\n";
        } else {
            // Without SPECULARENABLE no highlight is computed.
            s += "    vSpecular = vec4(0.0);\n";
        }
    } else {
        s += std::string("    vDiffuse = ") + (key.hasDiffuse ? "inDiffuse" : "vec4(1.0)") + ";\n";
        s += std::string("    vSpecular = ") + (key.hasSpecular ? "inSpecular" : "vec4(0.0)") + ";\n";
    }

    // Fog factor.
    if (key.fogVertexMode) {
        s += std::string("    float d = ") + (key.rangeFog ? "length(camPos)" : "camPos.z") + ";\n";
        s += "    vFog = clamp(" + fogExpression(key.fogVertexMode) + ", 0.0, 1.0);\n";
    } else if (key.fogFromSpecular) {
        s += "    vFog = inSpecular.a;\n";
    } else {
        s += "    vFog = 1.0;\n";
    }

    // Texture coordinates of the sampled stages.
    for (int i = 0; i < 8; ++i) {
        const FixedFunctionKey::Stage& stage = key.stages[i];
        if (stage.textureKind == 0)
            continue;
        std::string source;
        switch (stage.texGen) {
        case D3DTSS_TCI_CAMERASPACENORMAL >> 16:
            source = "vec4(N, 1.0)";
            break;
        case D3DTSS_TCI_CAMERASPACEPOSITION >> 16:
            source = "vec4(camPos, 1.0)";
            break;
        case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16:
            // R = I - 2 (N.I) N with I the direction from the eye to the
            // vertex, or +z for a viewer at infinity.
            source = key.localViewer ? "vec4(reflect(length(camPos) > 0.0 ? normalize(camPos) : vec3(0.0, 0.0, 1.0), N), 1.0)"
                                     : "vec4(reflect(vec3(0.0, 0.0, 1.0), N), 1.0)";
            break;
        default:
            source = paddedSet(stage.texCoordSet, key.texCoordSize[stage.texCoordSet], stage.transformCount != 0);
            break;
        }
        if (stage.transformCount) {
            static const char* const keep[] = {"", "vec4(t.x, 0.0, 0.0, 0.0)", "vec4(t.xy, 0.0, 0.0)",
                                               "vec4(t.xyz, 0.0)", "t"};
            s += format("    { vec4 t = textureMatrix[%d] * ", i) + source + "; " + format("vTex%d = ", i) +
                 keep[stage.transformCount] + "; }\n";
        } else {
            s += format("    vTex%d = ", i) + source + ";\n";
        }
    }
    s += "    gl_Position.xy += dx_PosFixup.xy * gl_Position.w;\n";
    s += "}\n";
    return s;
}

std::string generateFixedFunctionFragmentShader(const FixedFunctionKey& key)
{
    std::string s = "#version 450 core\n";
    s += kUniformBlock;
    for (int i = 0; i < 8; ++i) {
        const int kind = key.stages[i].textureKind;
        if (kind != 0)
            s += format("layout(binding = %d) uniform ", i) + samplerType(kind) + format(" texture%d;\n", i);
    }
    declareVaryings(s, key, "in", "_in");
    s += "layout(location = 0) out vec4 fragColor;\n";
    s += "void main() {\n";
    readVaryings(s, key);
    s += "    vec4 diffuse = vDiffuse;\n    vec4 specular = vSpecular;\n";
    s += "    vec4 current = diffuse;\n    vec4 temp = vec4(0.0);\n";
    for (int i = 0; i < 8 && key.stages[i].colorOp > D3DTOP_DISABLE; ++i)
        s += stageCode(key, i);
    s += "    vec4 color = current;\n";
    if (key.specularEnable)
        s += "    color.rgb = min(color.rgb + specular.rgb, vec3(1.0));\n";
    if (key.fogTableMode) {
        // Pixel fog: eye-relative depth w with a perspective projection,
        // device depth z with an affine one (fogParams.w chooses).
        s += "    float d = fogParams.w > 0.5 ? 1.0 / gl_FragCoord.w : gl_FragCoord.z;\n";
        s += "    float fog = clamp(" + fogExpression(key.fogTableMode) + ", 0.0, 1.0);\n";
        s += "    color.rgb = mix(fogColor.rgb, color.rgb, fog);\n";
    } else if (key.fogVertexMode || key.fogFromSpecular) {
        s += "    color.rgb = mix(fogColor.rgb, color.rgb, clamp(vFog, 0.0, 1.0));\n";
    }
    if (key.alphaFunc) {
        // Compared as the 8-bit value the target stores, against ALPHAREF.
        s += "    float alpha8 = floor(clamp(color.a, 0.0, 1.0) * 255.0 + 0.5);\n";
        static const char* const passes[] = {"", "false", "alpha8 < misc.x", "alpha8 == misc.x",
                                             "alpha8 <= misc.x", "alpha8 > misc.x", "alpha8 != misc.x",
                                             "alpha8 >= misc.x"};
        s += std::string("    if (!(") + passes[key.alphaFunc] + ")) discard;\n";
    }
    s += "    fragColor = clamp(color, 0.0, 1.0);\n";
    s += "}\n";
    return s;
}

} // namespace platform::d3d9

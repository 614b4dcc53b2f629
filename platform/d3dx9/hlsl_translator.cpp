#include "platform/d3dx9/hlsl_translator.h"

#include "platform/d3d9/d3d9_states.h"
#include "platform/d3dx9/d3dx9_defs.h"
#include "platform/d3dx9/hlsl_front_end.h"
#include "platform/d3dx9/hlsl_semantics.h"

#include <spirv_cross/spirv_cross_c.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

namespace platform::d3dx9 {

using d3d9::RegisterSet;
using d3d9::SamplerType;
using d3d9::ShaderBlob;
using d3d9::ShaderConstant;
using d3d9::ShaderInput;
using d3d9::ShaderSampler;
using d3d9::ShaderStage;
using d3d9::ShaderUploadRange;

namespace {

struct SpvcContext {
    spvc_context context = nullptr;
    std::string lastError;
    SpvcContext()
    {
        spvc_context_create(&context);
        if (context)
            spvc_context_set_error_callback(
                context, [](void* self, const char* e) { static_cast<SpvcContext*>(self)->lastError = e ? e : ""; },
                this);
    }
    ~SpvcContext()
    {
        if (context)
            spvc_context_destroy(context);
    }
    SpvcContext(const SpvcContext&) = delete;
    SpvcContext& operator=(const SpvcContext&) = delete;
};

// Lowest run of count free registers in used (marked on success).
int allocateRegisters(std::vector<bool>& used, uint32_t count)
{
    if (count == 0 || count > used.size())
        return -1;
    for (size_t first = 0; first + count <= used.size(); ++first) {
        bool free = true;
        for (size_t k = 0; k < count && free; ++k)
            free = !used[first + k];
        if (free) {
            for (size_t k = 0; k < count; ++k)
                used[first + k] = true;
            return int(first);
        }
    }
    return -1;
}

bool reserveRegisters(std::vector<bool>& used, uint32_t first, uint32_t count)
{
    if (count > used.size() || first > used.size() - count)
        return false;
    for (size_t k = 0; k < count; ++k)
        if (used[first + k])
            return false;
    for (size_t k = 0; k < count; ++k)
        used[first + k] = true;
    return true;
}

uint32_t registerLimit(RegisterSet set, ShaderStage stage)
{
    switch (set) {
    case RegisterSet::Float4:
        return stage == ShaderStage::Vertex ? d3d9::kVertexFloatRegisters : d3d9::kPixelFloatRegisters;
    case RegisterSet::Int4:
        return d3d9::kIntRegisters;
    case RegisterSet::Bool:
        return d3d9::kBoolRegisters;
    default:
        return d3d9::kSamplerRegisters;
    }
}

// One member of the $Global block as D3D9 constant registers.
struct MemberLayout {
    std::string name;
    bool active = false;
    bool supported = true;
    RegisterSet set = RegisterSet::Float4;
    uint32_t rows = 1, columns = 1;  // HLSL
    bool matrix = false;
    bool columnMajor = true;
    uint32_t elements = 1;
    bool isArray = false;
    uint32_t regsPerElement = 1;
    uint32_t blockBytes = 16;  // bytes the member owns in the block
    uint32_t offset = 0;
    int firstRegister = -1;
};

class Translator {
public:
    Translator(const HlslCompileRequest& request, ShaderBlob& blob, std::string& errors)
        : req_(request), blob_(blob), errors_(errors)
    {
    }

    bool run()
    {
        std::vector<unsigned> spirv;
        if (!hlslToSpirv(req_, spirv, errors_))
            return false;
        return back(spirv);
    }

private:
    bool fail(const std::string& message)
    {
        errors_ += message + "\n";
        return false;
    }

    const HlslGlobalInfo* global(const std::string& name) const
    {
        auto it = req_.globals.find(name);
        return it == req_.globals.end() ? nullptr : &it->second;
    }

    bool back(const std::vector<unsigned>& spirv)
    {
        SpvcContext ctx;
        if (!ctx.context)
            return fail("error: out of memory");
        spvc_parsed_ir ir = nullptr;
        if (spvc_context_parse_spirv(ctx.context, spirv.data(), spirv.size(), &ir) != SPVC_SUCCESS)
            return fail("error: " + ctx.lastError);
        if (spvc_context_create_compiler(ctx.context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_TAKE_OWNERSHIP,
                                         &comp_) != SPVC_SUCCESS)
            return fail("error: " + ctx.lastError);
        spvc_compiler_options options = nullptr;
        spvc_compiler_create_compiler_options(comp_, &options);
        spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 450);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_VULKAN_SEMANTICS, SPVC_FALSE);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_SEPARATE_SHADER_OBJECTS, SPVC_FALSE);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ENABLE_420PACK_EXTENSION, SPVC_FALSE);
        spvc_compiler_install_compiler_options(comp_, options);

        spvc_set active = nullptr;
        spvc_resources resources = nullptr;
        if (spvc_compiler_get_active_interface_variables(comp_, &active) != SPVC_SUCCESS ||
            spvc_compiler_create_shader_resources_for_active_variables(comp_, &resources, active) != SPVC_SUCCESS ||
            spvc_compiler_set_enabled_interface_variables(comp_, active) != SPVC_SUCCESS)
            return fail("error: " + ctx.lastError);

        bool vertex = req_.stage == ShaderStage::Vertex;
        if (!uniforms(resources) || !samplers(resources) || !inputs(resources, vertex) || !outputs(resources, vertex))
            return false;

        const char* source = nullptr;
        if (spvc_compiler_compile(comp_, &source) != SPVC_SUCCESS || !source)
            return fail("error: " + ctx.lastError);
        std::string glsl = source;
        if (vertex) {
            // The half-pixel offset of D3D9 rasterisation, after the shader.
            size_t at = glsl.find("void main()\n{");
            if (at == std::string::npos)
                return fail("error: unexpected GLSL from the translator");
            glsl.replace(at, 11, "void dx_main()");
            glsl += "\nuniform vec2 ";
            glsl += d3d9::kPosFixupUniform;
            glsl += ";\n\nvoid main()\n{\n    dx_main();\n    gl_Position.xy += ";
            glsl += d3d9::kPosFixupUniform;
            glsl += " * gl_Position.w;\n}\n";
        }
        blob_.glsl = std::move(glsl);
        blob_.stage = req_.stage;
        blob_.versionToken = req_.versionToken;
        return true;
    }

    std::optional<MemberLayout> memberLayout(spvc_type block, spvc_type_id blockId, unsigned m)
    {
        MemberLayout L;
        const char* name = spvc_compiler_get_member_name(comp_, blockId, m);
        L.name = name ? name : "";
        spvc_type_id typeId = spvc_type_get_member_type(block, m);
        spvc_type type = spvc_compiler_get_type_handle(comp_, typeId);
        spvc_basetype base = spvc_type_get_basetype(type);
        unsigned vecsize = spvc_type_get_vector_size(type);
        unsigned columns = spvc_type_get_columns(type);
        unsigned dims = spvc_type_get_num_array_dimensions(type);
        for (unsigned d = 0; d < dims; ++d) {
            if (!spvc_type_array_dimension_is_literal(type, d)) {
                L.supported = false;
                break;
            }
            uint64_t n = uint64_t(L.elements) * spvc_type_get_array_dimension(type, d);
            L.elements = uint32_t(std::min<uint64_t>(n, 1u << 16));
        }
        L.isArray = dims > 0;
        const HlslGlobalInfo* info = global(L.name);
        if (base == SPVC_BASETYPE_FP32)
            L.set = RegisterSet::Float4;
        else if (base == SPVC_BASETYPE_INT32 || base == SPVC_BASETYPE_UINT32 || base == SPVC_BASETYPE_BOOLEAN)
            L.set = info && info->baseType == EffectBaseType::Bool ? RegisterSet::Bool : RegisterSet::Int4;
        else
            L.supported = false;
        if (vecsize < 1 || vecsize > 4 || columns < 1 || columns > 4)
            L.supported = false;
        if (columns > 1) {
            // glslang turns HLSL RxC into a SPIR-V matrix of R vectors of C
            // and marks D3D9's default column_major packing RowMajor.
            L.matrix = true;
            L.rows = columns;
            L.columns = vecsize;
            L.columnMajor = spvc_compiler_has_member_decoration(comp_, blockId, m, SpvDecorationRowMajor);
            L.regsPerElement = L.columnMajor ? L.columns : L.rows;
            if (L.set != RegisterSet::Float4)
                L.supported = false;
            unsigned stride = 0;
            if (spvc_compiler_type_struct_member_matrix_stride(comp_, block, m, &stride) != SPVC_SUCCESS ||
                stride != 16)
                L.supported = false;
        } else {
            L.columns = vecsize;
            L.regsPerElement = L.set == RegisterSet::Bool ? vecsize : 1;
        }
        if (L.isArray) {
            unsigned stride = 0;
            uint32_t expected = L.set == RegisterSet::Bool ? 16 : L.regsPerElement * 16;
            if (spvc_compiler_type_struct_member_array_stride(comp_, block, m, &stride) != SPVC_SUCCESS ||
                stride != expected)
                L.supported = false;
        }
        if (L.supported) {
            L.blockBytes = L.elements * (L.set == RegisterSet::Bool ? 16 : L.regsPerElement * 16);
        } else {
            size_t size = 16;
            spvc_compiler_get_declared_struct_member_size(comp_, block, m, &size);
            L.blockBytes = uint32_t(std::min<size_t>((size + 15) & ~size_t(15), 1u << 20));
        }
        return L;
    }

    bool uniforms(spvc_resources resources)
    {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, &list, &count);
        if (count > 1)
            return fail("error: only the global constants are supported (no cbuffer)");
        const spvc_reflected_resource* list2 = nullptr;
        size_t count2 = 0;
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STORAGE_BUFFER, &list2, &count2);
        if (count2)
            return fail("error: buffers are not supported");
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_PUSH_CONSTANT, &list2, &count2);
        if (count2)
            return fail("error: push constants are not supported");
        if (count == 0)
            return true;

        spvc_variable_id var = list[0].id;
        spvc_type_id blockId = list[0].base_type_id;
        spvc_type block = spvc_compiler_get_type_handle(comp_, blockId);
        unsigned members = spvc_type_get_num_member_types(block);

        std::vector<bool> activeMember(members, false);
        const spvc_buffer_range* ranges = nullptr;
        size_t rangeCount = 0;
        if (spvc_compiler_get_active_buffer_ranges(comp_, var, &ranges, &rangeCount) == SPVC_SUCCESS)
            for (size_t r = 0; r < rangeCount; ++r)
                if (ranges[r].index < members)
                    activeMember[ranges[r].index] = true;

        std::vector<MemberLayout> layout;
        uint32_t cursor = 0;
        for (unsigned m = 0; m < members; ++m) {
            MemberLayout L = *memberLayout(block, blockId, m);
            L.active = activeMember[m];
            if (L.active && !L.supported)
                return fail("error: constant '" + L.name + "' has a type that is not supported");
            L.offset = cursor;
            cursor += L.blockBytes;
            if (cursor > 65536)
                return fail("error: too many constants");
            spvc_compiler_set_member_decoration(comp_, blockId, m, SpvDecorationOffset, L.offset);
            layout.push_back(L);
        }
        blob_.uniformBlockSize = cursor;
        blob_.uniformBlockName = req_.stage == ShaderStage::Vertex ? "dx_GlobalsVS" : "dx_GlobalsPS";
        spvc_compiler_set_name(comp_, blockId, blob_.uniformBlockName.c_str());
        spvc_compiler_set_name(comp_, var, "dx_globals");
        spvc_compiler_unset_decoration(comp_, var, SpvDecorationBinding);
        spvc_compiler_unset_decoration(comp_, var, SpvDecorationDescriptorSet);

        // Registers: explicit register(cN) first, then the rest in order.
        std::vector<bool> used[3] = {std::vector<bool>(registerLimit(RegisterSet::Bool, req_.stage)),
                                     std::vector<bool>(registerLimit(RegisterSet::Int4, req_.stage)),
                                     std::vector<bool>(registerLimit(RegisterSet::Float4, req_.stage))};
        auto registers = [](const MemberLayout& L) { return L.elements * L.regsPerElement; };
        for (MemberLayout& L : layout) {
            const HlslGlobalInfo* info = global(L.name);
            if (!L.active || !info || info->registerIndex < 0)
                continue;
            char want = L.set == RegisterSet::Float4 ? 'c' : L.set == RegisterSet::Int4 ? 'i' : 'b';
            if (info->registerKind != want)
                continue;
            if (!reserveRegisters(used[size_t(L.set)], uint32_t(info->registerIndex), registers(L)))
                return fail("error: register " + std::string(1, want) + std::to_string(info->registerIndex) +
                            " of '" + L.name + "' overlaps another constant or is out of range");
            L.firstRegister = info->registerIndex;
        }
        for (MemberLayout& L : layout) {
            if (!L.active || L.firstRegister >= 0)
                continue;
            L.firstRegister = allocateRegisters(used[size_t(L.set)], registers(L));
            if (L.firstRegister < 0)
                return fail("error: too many constants: '" + L.name + "' does not fit in the registers");
        }

        for (const MemberLayout& L : layout) {
            if (!L.active)
                continue;
            ShaderConstant c;
            c.name = L.name;
            c.registerSet = L.set;
            c.registerIndex = uint32_t(L.firstRegister);
            c.registerCount = registers(L);
            c.parameterClass = L.matrix ? (L.columnMajor ? D3DXPC_MATRIX_COLUMNS : D3DXPC_MATRIX_ROWS)
                                        : (L.columns > 1 ? D3DXPC_VECTOR : D3DXPC_SCALAR);
            const HlslGlobalInfo* info = global(L.name);
            c.parameterType = L.set == RegisterSet::Float4 ? D3DXPT_FLOAT
                              : L.set == RegisterSet::Bool ? D3DXPT_BOOL
                                                           : D3DXPT_INT;
            c.rows = L.rows;
            c.columns = L.columns;
            c.elements = L.isArray ? L.elements : 1;
            c.blockOffset = L.offset;
            if (info && !info->defaultWords.empty())
                c.defaultValue = registerImage(L, info->defaultWords);
            blob_.constants.push_back(std::move(c));

            if (L.set == RegisterSet::Bool && L.columns > 1) {
                for (uint32_t e = 0; e < L.elements; ++e)
                    addUpload({L.set, uint32_t(L.firstRegister) + e * L.columns, L.columns, L.offset + e * 16, 4});
            } else {
                addUpload({L.set, uint32_t(L.firstRegister), registers(L), L.offset, 16});
            }
        }
        return true;
    }

    void addUpload(const ShaderUploadRange& r)
    {
        for (size_t i = blob_.uploads.size(); i-- > 0;) {
            ShaderUploadRange& last = blob_.uploads[i];
            if (last.registerSet != r.registerSet)
                continue;
            if (last.registerSet == r.registerSet && last.blockStride == 16 && r.blockStride == 16 &&
                last.firstRegister + last.registerCount == r.firstRegister &&
                last.blockOffset + last.registerCount * 16 == r.blockOffset) {
                last.registerCount += r.registerCount;
                return;
            }
            break;
        }
        blob_.uploads.push_back(r);
    }

    // Default values (source order) as register contents.
    static std::vector<uint8_t> registerImage(const MemberLayout& L, const std::vector<uint32_t>& words)
    {
        uint32_t regs = L.elements * L.regsPerElement;
        bool isBool = L.set == RegisterSet::Bool;
        std::vector<uint8_t> image(size_t(regs) * (isBool ? 4 : 16), 0);
        uint32_t perElement = L.rows * L.columns;
        for (uint32_t e = 0; e < L.elements; ++e) {
            for (uint32_t k = 0; k < perElement; ++k) {
                size_t src = size_t(e) * perElement + k;
                uint32_t w = src < words.size() ? words[src] : 0;
                size_t at;
                if (isBool) {
                    at = (size_t(e) * L.columns + k) * 4;
                    w = w ? 1 : 0;
                } else if (L.matrix) {
                    uint32_t r = k / L.columns, c = k % L.columns;
                    uint32_t reg = L.columnMajor ? e * L.columns + c : e * L.rows + r;
                    uint32_t comp = L.columnMajor ? r : c;
                    at = (size_t(reg) * 4 + comp) * 4;
                } else {
                    at = (size_t(e) * 4 + k) * 4;
                }
                if (at + 4 <= image.size())
                    std::memcpy(&image[at], &w, 4);
            }
        }
        return image;
    }

    bool samplers(spvc_resources resources)
    {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_SEPARATE_IMAGE, &list, &count);
        if (count)
            return fail("error: separate texture objects are not supported");
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STORAGE_IMAGE, &list, &count);
        if (count)
            return fail("error: storage images are not supported");
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_SAMPLED_IMAGE, &list, &count);
        if (count > d3d9::kSamplerRegisters)
            return fail("error: too many samplers");

        struct Item {
            spvc_variable_id id;
            ShaderSampler sampler;
            int reg;
        };
        std::vector<Item> items;
        std::vector<bool> used(d3d9::kSamplerRegisters, false);
        for (size_t i = 0; i < count; ++i) {
            spvc_type type = spvc_compiler_get_type_handle(comp_, list[i].type_id);
            if (spvc_type_get_num_array_dimensions(type) > 0)
                return fail(std::string("error: sampler arrays are not supported ('") + list[i].name + "')");
            Item it{list[i].id, {}, -1};
            it.sampler.name = list[i].name ? list[i].name : "";
            switch (spvc_type_get_image_dimension(type)) {
            case SpvDim1D:
                it.sampler.type = SamplerType::Sampler1D;
                break;
            case SpvDim3D:
                it.sampler.type = SamplerType::Sampler3D;
                break;
            case SpvDimCube:
                it.sampler.type = SamplerType::SamplerCube;
                break;
            default:
                it.sampler.type = SamplerType::Sampler2D;
                break;
            }
            const HlslGlobalInfo* info = global(it.sampler.name);
            if (info && info->registerKind == 's' && info->registerIndex >= 0) {
                if (!reserveRegisters(used, uint32_t(info->registerIndex), 1))
                    return fail("error: sampler register s" + std::to_string(info->registerIndex) + " of '" +
                                it.sampler.name + "' is used twice or out of range");
                it.reg = info->registerIndex;
            }
            items.push_back(std::move(it));
        }
        for (Item& it : items)
            if (it.reg < 0)
                it.reg = allocateRegisters(used, 1);
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.reg < b.reg; });
        const char* prefix = req_.stage == ShaderStage::Vertex ? "dx_vs_s" : "dx_ps_s";
        for (Item& it : items) {
            it.sampler.registerIndex = uint32_t(it.reg);
            it.sampler.glslName = prefix + std::to_string(it.reg);
            spvc_compiler_set_name(comp_, it.id, it.sampler.glslName.c_str());
            spvc_compiler_unset_decoration(comp_, it.id, SpvDecorationBinding);
            spvc_compiler_unset_decoration(comp_, it.id, SpvDecorationDescriptorSet);
            ShaderConstant c;
            c.name = it.sampler.name;
            c.registerSet = RegisterSet::Sampler;
            c.registerIndex = it.sampler.registerIndex;
            c.registerCount = 1;
            c.rows = c.columns = 1;
            c.parameterClass = D3DXPC_OBJECT;
            c.parameterType = uint32_t(it.sampler.type);
            blob_.constants.push_back(std::move(c));
            blob_.samplers.push_back(std::move(it.sampler));
        }
        return true;
    }

    // Gives a stage input or output its location and GLSL name; fails for a
    // semantic with no location here or one taken already.
    bool placeStageVariable(const char* kind, const spvc_reflected_resource& r, const char* semantic, int location,
                            const std::string& name, std::vector<bool>& taken)
    {
        if (location < 0)
            return fail(std::string("error: ") + kind + " semantic '" + (semantic ? semantic : "") + "' of '" +
                        (r.name ? r.name : "") + "' is not supported");
        if (taken[size_t(location)])
            return fail(std::string("error: ") + kind + " semantic '" + semantic + "' is used twice");
        taken[size_t(location)] = true;
        spvc_compiler_set_decoration(comp_, r.id, SpvDecorationLocation, unsigned(location));
        spvc_compiler_set_name(comp_, r.id, name.c_str());
        return true;
    }

    bool inputs(spvc_resources resources, bool vertex)
    {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STAGE_INPUT, &list, &count);
        std::vector<bool> taken(32, false);
        for (size_t i = 0; i < count; ++i) {
            const char* semantic = spvc_compiler_get_decoration_string(comp_, list[i].id, SpvDecorationHlslSemanticGOOGLE);
            std::string sem;
            uint32_t index;
            splitSemantic(semantic, sem, index);
            int usage = declUsage(sem);
            int location = usage < 0 ? -1 : vertex ? attributeLocation(usage, index) : varyingLocation(usage, index);
            std::string name = (vertex ? "dx_in_" : "v_") + sem + std::to_string(index);
            if (!placeStageVariable("input", list[i], semantic, location, name, taken))
                return false;
            blob_.inputs.push_back({uint32_t(usage), index, uint32_t(location)});
        }
        return true;
    }

    bool outputs(spvc_resources resources, bool vertex)
    {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        spvc_resources_get_resource_list_for_type(resources, SPVC_RESOURCE_TYPE_STAGE_OUTPUT, &list, &count);
        std::vector<bool> taken(32, false);
        for (size_t i = 0; i < count; ++i) {
            const char* semantic = spvc_compiler_get_decoration_string(comp_, list[i].id, SpvDecorationHlslSemanticGOOGLE);
            std::string sem;
            uint32_t index;
            splitSemantic(semantic, sem, index);
            int location = -1;
            std::string name;
            if (vertex) {
                if ((sem == "POSITION" && index == 0) || sem == "SV_POSITION") {
                    spvc_compiler_unset_decoration(comp_, list[i].id, SpvDecorationLocation);
                    spvc_compiler_set_decoration(comp_, list[i].id, SpvDecorationBuiltIn, SpvBuiltInPosition);
                    continue;
                }
                if (sem == "PSIZE" && index == 0) {
                    spvc_compiler_unset_decoration(comp_, list[i].id, SpvDecorationLocation);
                    spvc_compiler_set_decoration(comp_, list[i].id, SpvDecorationBuiltIn, SpvBuiltInPointSize);
                    continue;
                }
                int usage = declUsage(sem);
                location = usage < 0 ? -1 : varyingLocation(usage, index);
                name = "v_" + sem + std::to_string(index);
            } else {
                if ((sem == "DEPTH" && index == 0) || sem == "SV_DEPTH") {
                    spvc_compiler_unset_decoration(comp_, list[i].id, SpvDecorationLocation);
                    spvc_compiler_set_decoration(comp_, list[i].id, SpvDecorationBuiltIn, SpvBuiltInFragDepth);
                    continue;
                }
                if ((sem == "COLOR" || sem == "SV_TARGET") && index < 4)
                    location = int(index);
                name = "dx_Color" + std::to_string(index);
            }
            if (!placeStageVariable("output", list[i], semantic, location, name, taken))
                return false;
        }
        return true;
    }

    const HlslCompileRequest& req_;
    ShaderBlob& blob_;
    std::string& errors_;
    spvc_compiler comp_ = nullptr;
};

} // namespace

bool parseShaderProfile(const char* profile, ShaderStage& stage, uint32_t& versionToken)
{
    if (!profile)
        return false;
    static const struct {
        const char* name;
        bool pixel;
        uint32_t major, minor;
    } profiles[] = {
        {"vs_1_1", false, 1, 1}, {"vs_2_0", false, 2, 0}, {"vs_2_a", false, 2, 1}, {"vs_2_sw", false, 2, 0xFF},
        {"vs_3_0", false, 3, 0}, {"vs_3_sw", false, 3, 0xFF}, {"ps_1_1", true, 1, 1}, {"ps_1_2", true, 1, 2},
        {"ps_1_3", true, 1, 3}, {"ps_1_4", true, 1, 4}, {"ps_2_0", true, 2, 0}, {"ps_2_a", true, 2, 1},
        {"ps_2_b", true, 2, 2}, {"ps_2_sw", true, 2, 0xFF}, {"ps_3_0", true, 3, 0}, {"ps_3_sw", true, 3, 0xFF},
    };
    for (const auto& p : profiles) {
        if (std::strcmp(profile, p.name) == 0) {
            stage = p.pixel ? ShaderStage::Pixel : ShaderStage::Vertex;
            versionToken = (p.pixel ? 0xFFFF0000u : 0xFFFE0000u) | (p.major << 8) | p.minor;
            return true;
        }
    }
    return false;
}

bool compileHlsl(const HlslCompileRequest& request, ShaderBlob& blob, std::string& errors)
{
    std::shared_lock<std::shared_mutex> lock(compileMutex());
    initialiseGlslang();
    ShaderBlob out;
    std::string messages;
    HlslCompileRequest req = request;
    if (!req.locate)
        req.locate = [](uint32_t line, uint32_t column) {
            return "(" + std::to_string(line) + "," + std::to_string(column) + ")";
        };
    // In this process: the effect parsed in a helper when it was created,
    // and a helper per variant would cost several times the compile.
    auto work = [&] { return Translator(req, out, messages).run(); };
    if (!onCompileThread(work)) {
        errors = messages.empty() ? "error: compilation failed\n" : messages;
        return false;
    }
    blob = std::move(out);
    return true;
}

} // namespace platform::d3dx9

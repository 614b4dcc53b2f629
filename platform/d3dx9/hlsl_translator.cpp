#include "platform/d3dx9/hlsl_translator.h"

#include "platform/d3d9/d3d9_states.h"
#include "platform/d3dx9/d3dx9_defs.h"
#include "platform/d3dx9/hlsl_guard.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv-tools/optimizer.hpp>
#include <spirv_cross/spirv_cross_c.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::mutex& compileMutex()
{
    static std::mutex m;
    return m;
}

const EShMessages kMessages =
    EShMessages(EShMsgSpvRules | EShMsgVulkanRules | EShMsgReadHlsl | EShMsgHlslDX9Compatible |
                EShMsgHlslLegalization | EShMsgEnhanced);

void setUp(glslang::TShader& shader, EShLanguage stage, const char* const* text, const int* length,
           const char* const* name, const std::string& preamble, const std::string& entry)
{
    shader.setStringsWithLengthsAndNames(text, length, name, 1);
    shader.setPreamble(preamble.c_str());
    shader.setEntryPoint(entry.c_str());
    shader.setSourceEntryPoint(entry.c_str());
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1();
    shader.setAutoMapBindings(true);
    shader.setAutoMapLocations(true);
    shader.setHlslIoMapping(true);
}

void initialiseGlslang()
{
    static std::once_flag once;
    std::call_once(once, [] {
        glslang::InitializeProcess();
        // glslang builds its tables of built-in functions on the first parse
        // of each stage; built here, every helper process inherits them.
        const std::string preamble, entry = "main";  // the shader keeps pointers to both
        for (EShLanguage stage : {EShLangVertex, EShLangFragment}) {
            glslang::TShader shader(stage);
            const char* text = "float4 main() : POSITION { return 0; }\n";
            int length = int(std::strlen(text));
            const char* name = "";
            setUp(shader, stage, &text, &length, &name, preamble, entry);
            shader.parse(GetDefaultResources(), 100, false, kMessages);
        }
    });
}

// glslang's parser and tree walkers recurse as deep as the text nests; the
// guard bounds that, and the front end runs on a stack large enough for the
// bound whoever calls (the pages are only touched when used).
constexpr size_t kFrontEndStack = size_t(64) << 20;

// False when no thread could be made (or the work threw).
template <typename Work>
bool onLargeStack(Work& work)
{
    struct Call {
        Work* work;
        bool ok = false;
        static void* run(void* p)
        {
            Call* c = static_cast<Call*>(p);
            try {
                c->ok = (*c->work)();
            } catch (...) {
                c->ok = false;
            }
            return nullptr;
        }
    } call{&work};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_t thread;
    bool started = pthread_attr_setstacksize(&attr, kFrontEndStack) == 0 &&
                   pthread_create(&thread, &attr, &Call::run, &call) == 0;
    pthread_attr_destroy(&attr);
    if (!started)
        return false;
    pthread_join(thread, nullptr);
    return call.ok;
}

// What a check hands back from the helper process.
struct HelperResult {
    bool ok = false;
    std::string errors;
};

// How long a check may take before the helper is stopped.
constexpr int kHelperSeconds = 20;

void putWord(std::string& s, uint32_t w)
{
    s.append(reinterpret_cast<const char*>(&w), 4);
}

bool getWord(const std::string& s, size_t& pos, uint32_t& w)
{
    if (s.size() - pos < 4)
        return false;
    std::memcpy(&w, s.data() + pos, 4);
    pos += 4;
    return true;
}

// Runs work on a large stack in a child process. The guard refuses what
// glslang is known to mishandle, but its semantic checks still dereference
// null on some errors no token check can see (a ?: whose branches disagree
// in type, used in a return), so a crash or a hang there costs the effect,
// not the program. False when the child died or ran out of time; when no
// child can be made the work runs here, still behind the guard.
bool inHelperProcess(const std::function<HelperResult()>& work, HelperResult& result)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        auto run = [&] { result = work(); return true; };
        return onLargeStack(run) && result.ok;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        auto run = [&] { result = work(); return true; };
        return onLargeStack(run) && result.ok;
    }
    if (pid == 0) {
        close(fds[0]);
        for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
            signal(sig, SIG_DFL);
        HelperResult r;
        auto run = [&] { r = work(); return true; };
        bool ran = onLargeStack(run);
        std::string bytes;
        putWord(bytes, ran && r.ok ? 1 : 0);
        putWord(bytes, uint32_t(r.errors.size()));
        bytes += r.errors;
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EINTR)
                _exit(4);
            done += n > 0 ? size_t(n) : 0;
        }
        _exit(ran ? 0 : 3);
    }
    close(fds[1]);
    std::string bytes;
    bool timedOut = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHelperSeconds);
    char buffer[65536];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        int ready = poll(&pfd, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, size_t(n));
    }
    close(fds[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result = HelperResult();
    if (timedOut) {
        result.errors = "error: compiling the effect took too long\n";
        return false;
    }
    uint32_t ok = 0, errorBytes = 0;
    size_t pos = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !getWord(bytes, pos, ok) ||
        !getWord(bytes, pos, errorBytes) || bytes.size() - pos != errorBytes) {
        result.errors = "error: the effect compiler failed on this effect\n";
        return false;
    }
    result.errors = bytes.substr(pos);
    result.ok = ok != 0;
    return result.ok;
}

std::string convertLog(const char* log, const std::function<std::string(uint32_t, uint32_t)>& locate);

// Line (1-based) and column of an offset of text.
std::pair<uint32_t, uint32_t> lineAndColumn(const std::string& text, size_t offset)
{
    offset = std::min(offset, text.size());
    uint32_t line = 1;
    size_t lineStart = 0;
    for (size_t k = 0; k < offset; ++k) {
        if (text[k] == '\n') {
            ++line;
            lineStart = k + 1;
        }
    }
    return {line, uint32_t(offset - lineStart + 1)};
}

// The preamble's #define lines and its #pragma lines, apart: the
// preprocessor writes #pragma lines in front of the first line of text, so
// they stay out of the guard's pass and go with the parse of its output.
void splitPreamble(const std::string& preamble, std::string& defines, std::string& pragmas)
{
    for (size_t pos = 0; pos < preamble.size();) {
        size_t end = preamble.find('\n', pos);
        end = end == std::string::npos ? preamble.size() : end + 1;
        (preamble.compare(pos, 7, "#pragma") != 0 ? defines : pragmas).append(preamble, pos, end - pos);
        pos = end;
    }
}

std::string pragmaLines(const std::string& preamble)
{
    std::string defines, pragmas;
    splitPreamble(preamble, defines, pragmas);
    return pragmas;
}

// Runs the guard on the text before and after glslang's preprocessor; false
// with D3DX-shaped errors. expanded gets the preprocessed text, which keeps
// the source's line numbers, so the parse that follows need not expand the
// macros again.
bool guardInput(const std::string& source, const std::string& preamble, EShLanguage lang,
                const std::function<std::string(uint32_t, uint32_t)>& locate, std::string& errors,
                std::string& expanded)
{
    std::string defines, pragmas;
    splitPreamble(preamble, defines, pragmas);
    HlslFinding finding;
    if (!checkPreprocessorInput(defines + source, finding)) {
        size_t at = finding.offset > defines.size() ? finding.offset - defines.size() : 0;
        auto [line, column] = lineAndColumn(source, at);
        errors = locate(line, column) + ": " + finding.message + "\n";
        return false;
    }
    glslang::TShader shader(lang);
    const char* text = source.c_str();
    int length = int(source.size());
    const char* name = "";
    setUp(shader, lang, &text, &length, &name, defines, "dx_no_entry_point");
    glslang::TShader::ForbidIncluder includer;
    if (!shader.preprocess(GetDefaultResources(), 100, ENoProfile, false, false, kMessages, &expanded, includer)) {
        errors = convertLog(shader.getInfoLog(), locate);
        if (errors.empty())
            errors = "error: the effect does not preprocess\n";
        return false;
    }
    if (!checkParserInput(expanded, finding)) {
        auto [line, column] = lineAndColumn(expanded, finding.offset);
        errors = locate(line, column) + ": " + finding.message + "\n";
        return false;
    }
    return true;
}

// Parses the guard's preprocessed text, sparing the macros a second
// expansion. Its layout is the preprocessor's, not the source's: when it
// does not parse, the source as written is parsed too, so that a failure is
// told with the source's columns (and the written text is what counts).
// Null, with errors, when neither parses.
std::unique_ptr<glslang::TShader> parseExpanded(EShLanguage lang, const std::string& source,
                                                const std::string& expanded, const std::string& preamble,
                                                const std::string& entry,
                                                const std::function<std::string(uint32_t, uint32_t)>& locate,
                                                std::string& errors)
{
    const std::string pragmas = pragmaLines(preamble);
    const char* name = "";
    const char* text = expanded.c_str();
    int length = int(expanded.size());
    auto shader = std::make_unique<glslang::TShader>(lang);
    setUp(*shader, lang, &text, &length, &name, pragmas, entry);
    if (shader->parse(GetDefaultResources(), 100, false, kMessages))
        return shader;
    text = source.c_str();
    length = int(source.size());
    shader = std::make_unique<glslang::TShader>(lang);
    setUp(*shader, lang, &text, &length, &name, preamble, entry);
    if (shader->parse(GetDefaultResources(), 100, false, kMessages))
        return shader;
    errors += convertLog(shader->getInfoLog(), locate);
    return nullptr;
}

std::string trim(std::string s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// glslang's log ("ERROR: name:7: 'y' : unknown variable", then with
// EShMsgEnhanced "(7): error at column 12, ...") in D3DX's shape.
std::string convertLog(const char* log, const std::function<std::string(uint32_t, uint32_t)>& locate)
{
    struct Message {
        bool error;
        uint32_t line;
        std::string text;
        uint32_t column = 1;
    };
    std::vector<Message> messages;
    std::string s = log ? log : "";
    size_t pos = 0;
    while (pos < s.size()) {
        size_t end = s.find('\n', pos);
        if (end == std::string::npos)
            end = s.size();
        std::string line = s.substr(pos, end - pos);
        pos = end + 1;
        bool error = line.rfind("ERROR: ", 0) == 0;
        bool warning = line.rfind("WARNING: ", 0) == 0;
        if (error || warning) {
            std::string rest = line.substr(error ? 7 : 9);
            size_t colon = rest.find(':');
            uint32_t lineNo = 0;
            if (colon != std::string::npos) {
                // "name:12:"; a #line past glslang's int range shows as
                // "name:-5:", which gets no location at all.
                size_t d = colon + 1;
                bool negative = d < rest.size() && rest[d] == '-';
                d += negative;
                uint64_t value = 0;
                size_t digits = d;
                while (d < rest.size() && rest[d] >= '0' && rest[d] <= '9' && d - digits < 12)
                    value = value * 10 + uint64_t(rest[d++] - '0');
                if (d > digits && d < rest.size() && rest[d] == ':') {
                    rest = rest.substr(d + 1);
                    lineNo = negative || value > INT_MAX ? 0 : uint32_t(value);
                }
            }
            rest = trim(rest);
            if (lineNo == 0 && rest.find("compilation errors") != std::string::npos)
                continue;
            messages.push_back({error, lineNo, rest});
            continue;
        }
        // "(7): error at column 12, HLSL parsing failed."
        unsigned lineNo = 0, column = 0;
        if (std::sscanf(line.c_str(), "(%u): error at column %u", &lineNo, &column) == 2) {
            for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
                if (it->line == lineNo) {
                    it->column = column;
                    break;
                }
            }
        }
    }
    std::string out;
    for (const Message& m : messages) {
        if (m.line > 0)
            out += locate(m.line, m.column) + ": ";
        out += m.error ? "error: " : "warning: ";
        out += m.text + "\n";
    }
    return out;
}

// "TEXCOORD3" -> ("TEXCOORD", 3); upper case.
void splitSemantic(const char* semantic, std::string& name, uint32_t& index)
{
    std::string s = semantic ? semantic : "";
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    size_t d = s.size();
    while (d > 0 && s[d - 1] >= '0' && s[d - 1] <= '9')
        --d;
    name = s.substr(0, d);
    index = 0;
    for (size_t i = d; i < s.size() && index < 1000; ++i)
        index = index * 10 + uint32_t(s[i] - '0');
}

int declUsage(const std::string& name)
{
    static const struct {
        const char* name;
        int usage;
    } table[] = {
        {"POSITION", D3DDECLUSAGE_POSITION}, {"BLENDWEIGHT", D3DDECLUSAGE_BLENDWEIGHT},
        {"BLENDINDICES", D3DDECLUSAGE_BLENDINDICES}, {"NORMAL", D3DDECLUSAGE_NORMAL},
        {"PSIZE", D3DDECLUSAGE_PSIZE}, {"TEXCOORD", D3DDECLUSAGE_TEXCOORD},
        {"TANGENT", D3DDECLUSAGE_TANGENT}, {"BINORMAL", D3DDECLUSAGE_BINORMAL},
        {"TESSFACTOR", D3DDECLUSAGE_TESSFACTOR}, {"POSITIONT", D3DDECLUSAGE_POSITIONT},
        {"COLOR", D3DDECLUSAGE_COLOR}, {"FOG", D3DDECLUSAGE_FOG},
        {"DEPTH", D3DDECLUSAGE_DEPTH}, {"SAMPLE", D3DDECLUSAGE_SAMPLE},
    };
    for (const auto& e : table)
        if (name == e.name)
            return e.usage;
    return -1;
}

// The device's vertex attribute locations.
int attributeLocation(int usage, uint32_t index)
{
    switch (usage) {
    case D3DDECLUSAGE_POSITION:
    case D3DDECLUSAGE_POSITIONT:
        return index == 0 ? 0 : -1;
    case D3DDECLUSAGE_BLENDWEIGHT:
        return index == 0 ? 1 : -1;
    case D3DDECLUSAGE_BLENDINDICES:
        return index == 0 ? 2 : -1;
    case D3DDECLUSAGE_NORMAL:
        return index == 0 ? 3 : -1;
    case D3DDECLUSAGE_PSIZE:
        return index == 0 ? 4 : -1;
    case D3DDECLUSAGE_COLOR:
        return index < 2 ? int(5 + index) : -1;
    case D3DDECLUSAGE_TANGENT:
        return index == 0 ? 7 : -1;
    case D3DDECLUSAGE_TEXCOORD:
        // TEXCOORD8-11 share the slots of PSIZE, COLOR0, COLOR1 and TANGENT
        // (see the vertex declaration).
        return index < 8 ? int(8 + index) : index < 12 ? int(4 + index - 8) : -1;
    default:
        return -1;
    }
}

// Locations of the varyings between the stages, by semantic, all below 32.
int varyingLocation(int usage, uint32_t index)
{
    switch (usage) {
    case D3DDECLUSAGE_TEXCOORD:
        return index < 10 ? int(index) : index < 16 ? int(26 + index - 10) : -1;
    case D3DDECLUSAGE_COLOR:
        return index < 2 ? int(10 + index) : -1;
    case D3DDECLUSAGE_FOG:
        return index == 0 ? 12 : -1;
    case D3DDECLUSAGE_NORMAL:
        return index < 4 ? int(13 + index) : -1;
    case D3DDECLUSAGE_TANGENT:
        return index < 2 ? int(17 + index) : -1;
    case D3DDECLUSAGE_BINORMAL:
        return index < 2 ? int(19 + index) : -1;
    case D3DDECLUSAGE_POSITION:
        return index >= 1 && index < 4 ? int(20 + index) : -1;
    case D3DDECLUSAGE_BLENDWEIGHT:
        return index == 0 ? 24 : -1;
    case D3DDECLUSAGE_BLENDINDICES:
        return index == 0 ? 25 : -1;
    default:
        return -1;
    }
}

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
        if (!front(spirv))
            return false;
        return back(spirv);
    }

private:
    bool fail(const std::string& message)
    {
        errors_ += message + "\n";
        return false;
    }

    bool front(std::vector<unsigned>& spirv)
    {
        if (req_.source.size() > size_t(INT_MAX))
            return fail("error: effect text too large");
        EShLanguage lang = req_.stage == ShaderStage::Vertex ? EShLangVertex : EShLangFragment;
        std::string expanded;
        if (!guardInput(req_.source, req_.preamble, lang, req_.locate, errors_, expanded))
            return false;
        std::unique_ptr<glslang::TShader> shader =
            parseExpanded(lang, req_.source, expanded, req_.preamble, req_.entryPoint, req_.locate, errors_);
        if (!shader) {
            if (errors_.empty())
                errors_ = "error: compilation failed\n";
            return false;
        }
        glslang::TProgram program;
        program.addShader(shader.get());
        bool linked = program.link(kMessages) && program.mapIO();
        std::string log = program.getInfoLog() ? program.getInfoLog() : "";
        // glslang only warns about a missing entry point.
        if (log.find("Entry point not found") != std::string::npos)
            return fail("error X3501: '" + req_.entryPoint + "': entrypoint not found");
        if (!linked)
            return fail("error: " + trim(log));
        glslang::SpvOptions options;
        options.disableOptimizer = !req_.optimize;
        options.validate = false;
        spv::SpvBuildLogger logger;
        glslang::GlslangToSpv(*program.getIntermediate(lang), spirv, &logger, &options);
        if (spirv.empty())
            return fail("error: " + trim(logger.getAllMessages()));
        // Globals the shader never reads leave the constant block, as they
        // get no registers in D3D9 either.
        spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
        optimizer.RegisterPass(spvtools::CreateEliminateDeadMembersPass());
        std::vector<uint32_t> trimmed;
        if (optimizer.Run(spirv.data(), spirv.size(), &trimmed))
            spirv.assign(trimmed.begin(), trimmed.end());
        return true;
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
    std::lock_guard<std::mutex> lock(compileMutex());
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
    if (!onLargeStack(work)) {
        errors = messages.empty() ? "error: compilation failed\n" : messages;
        return false;
    }
    blob = std::move(out);
    return true;
}

bool checkHlslSyntax(const std::string& source, const std::string& preamble,
                     const std::function<std::string(uint32_t, uint32_t)>& locate, std::string& errors)
{
    if (source.size() > size_t(INT_MAX)) {
        errors = "error: effect text too large\n";
        return false;
    }
    std::lock_guard<std::mutex> lock(compileMutex());
    initialiseGlslang();
    HelperResult result;
    bool ok = inHelperProcess(
        [&] {
            HelperResult r;
            std::string expanded;
            if (!guardInput(source, preamble, EShLangFragment, locate, r.errors, expanded))
                return r;
            r.ok = parseExpanded(EShLangFragment, source, expanded, preamble, "dx_no_entry_point", locate, r.errors) !=
                   nullptr;
            return r;
        },
        result);
    if (ok)
        return true;
    errors = result.errors.empty() ? "error: the effect does not parse\n" : result.errors;
    return false;
}

} // namespace platform::d3dx9

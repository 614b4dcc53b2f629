// glslang's HLSL front end: the guard's passes, the parse, the link to
// SPIR-V and its legalisation, all in a helper process; its log in D3DX's
// shape.
#include "platform/d3dx9/hlsl_front_end.h"

#include "platform/d3dx9/compile_helper.h"
#include "platform/d3dx9/hlsl_guard.h"
#include "platform/platform_limits.h"

#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv-tools/optimizer.hpp>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <mutex>

#include <pthread.h>
#include <unistd.h>

namespace platform::d3dx9 {

using d3d9::ShaderStage;

namespace {

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

// glslang's parser and tree walkers recurse as deep as the text nests; the
// guard bounds that, and the front end runs on a stack large enough for the
// bound whoever calls (the pages are only touched when used).
constexpr size_t kFrontEndStack = size_t(64) << 20;

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

void putText(std::string& s, const std::string& text)
{
    putWord(s, uint32_t(text.size()));
    s += text;
}

bool getText(const std::string& s, size_t& pos, std::string& text)
{
    uint32_t size = 0;
    if (!getWord(s, pos, size) || s.size() - pos < size)
        return false;
    text.assign(s, pos, size);
    pos += size;
    return true;
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

// The text the guard passed last in this process and what glslang's
// preprocessor made of it. A variant's vertex and pixel shaders come from
// the same text, and the guard's verdict and the preprocessed text do not
// depend on the stage: a second compile of it here takes them from here.
struct GuardedText {
    std::mutex mutex;  // held while the guard runs: the other stage waits for its verdict
    bool valid = false;
    std::string source;
    std::string preamble;
    std::string expanded;
};

GuardedText& lastGuarded()
{
    static GuardedText text;
    return text;
}

// What the module's entry points come to once every call in them is
// inlined, in instructions, saturating past the bound: the legalisation
// inlines them all, and its time grows with the square of a function's size,
// so a few lines whose functions each call the one below twice would take it
// minutes. A call to itself (which HLSL does not allow) counts as the bound.
uint64_t inlinedSize(const std::vector<unsigned>& spirv)
{
    constexpr uint32_t kOpEntryPoint = 15, kOpFunction = 54, kOpFunctionEnd = 56, kOpFunctionCall = 57;
    constexpr uint64_t kPast = platform::limits::inlinedInstructions + 1;
    struct Function {
        uint64_t own = 0;
        std::vector<uint32_t> callees;  // ids
        uint64_t total = 0;
        int state = 0;  // 0 unseen, 1 on the walk, 2 done
    };
    std::map<uint32_t, Function> functions;
    std::vector<uint32_t> entries;
    Function* current = nullptr;
    for (size_t i = 5; i < spirv.size();) {
        const uint32_t count = spirv[i] >> 16, op = spirv[i] & 0xFFFF;
        if (count == 0 || count > spirv.size() - i)
            break;
        if (op == kOpEntryPoint && count > 2)
            entries.push_back(spirv[i + 2]);
        else if (op == kOpFunction && count > 2)
            current = &functions[spirv[i + 2]];
        if (current) {
            ++current->own;
            if (op == kOpFunctionCall && count > 3)
                current->callees.push_back(spirv[i + 3]);
            if (op == kOpFunctionEnd)
                current = nullptr;
        }
        i += count;
    }
    // Depth first without recursion: a chain of functions is as long as the
    // effect makes it.
    uint64_t largest = 0;
    for (uint32_t entry : entries) {
        std::vector<std::pair<uint32_t, size_t>> walk{{entry, 0}};
        while (!walk.empty()) {
            auto& [id, next] = walk.back();
            auto found = functions.find(id);
            if (found == functions.end()) {
                walk.pop_back();
                continue;
            }
            Function& f = found->second;
            if (next == 0) {
                if (f.state == 2) {
                    walk.pop_back();
                    continue;
                }
                if (f.state == 1) {
                    f.total = kPast;
                    walk.pop_back();
                    continue;
                }
                f.state = 1;
                f.total = f.own;
            }
            if (next < f.callees.size()) {
                const uint32_t callee = f.callees[next++];
                auto c = functions.find(callee);
                if (c != functions.end() && c->second.state == 1) {
                    f.total = kPast;
                    continue;
                }
                if (c != functions.end() && c->second.state == 0) {
                    walk.push_back({callee, 0});
                    continue;
                }
                if (c != functions.end())
                    f.total = std::min(f.total + c->second.total, kPast);
                continue;
            }
            f.state = 2;
            walk.pop_back();
            if (!walk.empty()) {
                auto caller = functions.find(walk.back().first);
                caller->second.total = std::min(caller->second.total + f.total, kPast);
            }
        }
        auto e = functions.find(entry);
        if (e != functions.end())
            largest = std::max(largest, e->second.total);
    }
    return largest;
}

// glslang's legalisation of HLSL SPIR-V for Vulkan, pass for pass as its
// GlslangToSpv runs it when its optimiser is on.
void addLegalisationPasses(spvtools::Optimizer& optimizer)
{
    optimizer.RegisterPass(spvtools::CreateWrapOpKillPass());
    optimizer.RegisterPass(spvtools::CreateDeadBranchElimPass());
    optimizer.RegisterPass(spvtools::CreateMergeReturnPass());
    optimizer.RegisterPass(spvtools::CreateInlineExhaustivePass());
    optimizer.RegisterPass(spvtools::CreateEliminateDeadFunctionsPass());
    optimizer.RegisterPass(spvtools::CreateScalarReplacementPass());
    optimizer.RegisterPass(spvtools::CreateLocalAccessChainConvertPass());
    optimizer.RegisterPass(spvtools::CreateLocalSingleBlockLoadStoreElimPass());
    optimizer.RegisterPass(spvtools::CreateLocalSingleStoreElimPass());
    optimizer.RegisterPass(spvtools::CreateSimplificationPass());
    optimizer.RegisterPass(spvtools::CreateAggressiveDCEPass());
    optimizer.RegisterPass(spvtools::CreateVectorDCEPass());
    optimizer.RegisterPass(spvtools::CreateDeadInsertElimPass());
    optimizer.RegisterPass(spvtools::CreateAggressiveDCEPass());
    optimizer.RegisterPass(spvtools::CreateDeadBranchElimPass());
    optimizer.RegisterPass(spvtools::CreateBlockMergePass());
    optimizer.RegisterPass(spvtools::CreateLocalMultiStoreElimPass());
    optimizer.RegisterPass(spvtools::CreateIfConversionPass());
    optimizer.RegisterPass(spvtools::CreateSimplificationPass());
    optimizer.RegisterPass(spvtools::CreateAggressiveDCEPass());
    optimizer.RegisterPass(spvtools::CreateVectorDCEPass());
    optimizer.RegisterPass(spvtools::CreateDeadInsertElimPass());
    optimizer.RegisterPass(spvtools::CreateInterpolateFixupPass());
    optimizer.RegisterPass(spvtools::CreateAggressiveDCEPass());
    optimizer.RegisterPass(spvtools::CreateCFGCleanupPass());
}

// Legalises the SPIR-V (unless legalise is off: D3DXSHADER_SKIPOPTIMIZATION),
// then takes the globals the shader never reads out of the constant block,
// as they get no registers in D3D9 either. Both in one optimiser run: one
// parse of the binary, one set of analyses, and no validation, which was
// two thirds of the trim's time and which glslang's own legalisation skips
// as well (SPIRV-Cross reads glslang's binary unvalidated either way). When
// a pass fails, the two steps run apart as they did: what legalises, then
// the trim of a binary that validates.
void legaliseAndTrim(std::vector<unsigned>& spirv, bool legalise)
{
    spvtools::OptimizerOptions unvalidated;
    unvalidated.set_run_validator(false);
    std::vector<uint32_t> out;
    {
        spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
        if (legalise)
            addLegalisationPasses(optimizer);
        optimizer.RegisterPass(spvtools::CreateEliminateDeadMembersPass());
        if (optimizer.Run(spirv.data(), spirv.size(), &out, unvalidated)) {
            spirv.assign(out.begin(), out.end());
            return;
        }
    }
    if (legalise) {
        spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
        addLegalisationPasses(optimizer);
        if (optimizer.Run(spirv.data(), spirv.size(), &out, unvalidated))
            spirv.assign(out.begin(), out.end());
    }
    spvtools::Optimizer optimizer(SPV_ENV_VULKAN_1_0);
    optimizer.RegisterPass(spvtools::CreateEliminateDeadMembersPass());
    if (optimizer.Run(spirv.data(), spirv.size(), &out))
        spirv.assign(out.begin(), out.end());
}

} // namespace

std::shared_mutex& compileMutex()
{
    static std::shared_mutex m;
    return m;
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

namespace {
// Set on the threads whose stack is large enough for glslang. A helper
// process forked from such a thread is a copy of it, stack included.
thread_local bool onFrontEndStack = false;
} // namespace

bool onLargeStack(const std::function<bool()>& work)
{
    struct Call {
        const std::function<bool()>* work;
        bool ok = false;
        static void* run(void* p)
        {
            Call* c = static_cast<Call*>(p);
            onFrontEndStack = true;
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

namespace {

class CompileThread {
public:
    CompileThread() = default;
    CompileThread(const CompileThread&) = delete;
    CompileThread& operator=(const CompileThread&) = delete;

    ~CompileThread()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_ || owner_ != getpid())
                return;
            stop_ = true;
        }
        wake_.notify_all();
        pthread_join(thread_, nullptr);
    }

    // In a forked child, which has none of the parent's threads: the
    // copied mutex and conditions may still count the parent's waiters (a
    // broadcast would wait for them for good), so they are made anew. Runs
    // from the fork's child handler, while the child has one thread.
    void forgetParent()
    {
        new (&mutex_) std::mutex;
        new (&wake_) std::condition_variable;
        new (&done_) std::condition_variable;
        job_ = nullptr;
        stop_ = false;
        running_ = false;
    }

    // False when the thread is busy with other work or cannot be made.
    bool tryRun(const std::function<bool()>& work, bool& ok)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (job_ || ((!running_ || owner_ != getpid()) && !start()))
            return false;
        Job job{&work};
        job_ = &job;
        wake_.notify_all();
        done_.wait(lock, [&job] { return job.done; });
        ok = job.ok;
        return true;
    }

private:
    struct Job {
        const std::function<bool()>* work;
        bool ok = false;
        bool done = false;
    };

    bool start()
    {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0)
            return false;
        running_ = pthread_attr_setstacksize(&attr, kFrontEndStack) == 0 &&
                   pthread_create(&thread_, &attr, &CompileThread::loop, this) == 0;
        pthread_attr_destroy(&attr);
        owner_ = getpid();
        return running_;
    }

    static void* loop(void* p)
    {
        CompileThread* self = static_cast<CompileThread*>(p);
        onFrontEndStack = true;
        std::unique_lock<std::mutex> lock(self->mutex_);
        while (true) {
            self->wake_.wait(lock, [self] { return self->job_ || self->stop_; });
            if (self->stop_)
                return nullptr;
            Job* job = self->job_;
            lock.unlock();
            bool ok = false;
            try {
                ok = (*job->work)();
            } catch (...) {
                ok = false;
            }
            lock.lock();
            job->ok = ok;
            job->done = true;
            self->job_ = nullptr;
            self->done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    Job* job_ = nullptr;  // the caller's, until done
    bool stop_ = false;
    bool running_ = false;
    pid_t owner_ = 0;  // a forked child has none of the parent's threads
    pthread_t thread_{};
};

} // namespace

bool onCompileThread(const std::function<bool()>& work)
{
    static CompileThread threads[2];
    static std::once_flag forkHandler;
    std::call_once(forkHandler, [] {
        pthread_atfork(nullptr, nullptr, [] {
            for (CompileThread& thread : threads)
                thread.forgetParent();
        });
    });
    bool ok = false;
    for (CompileThread& thread : threads)
        if (thread.tryRun(work, ok))
            return ok;
    return onLargeStack(work);
}

namespace {

// The front end proper: guard, parse, link, SPIR-V, legalisation.
bool frontEnd(const HlslCompileRequest& req, std::vector<unsigned>& spirv, std::string& errors)
{
    auto fail = [&](const std::string& message) {
        errors += message + "\n";
        return false;
    };
    if (req.source.size() > size_t(INT_MAX))
        return fail("error: effect text too large");
    EShLanguage lang = req.stage == ShaderStage::Vertex ? EShLangVertex : EShLangFragment;
    std::string expanded;
    {
        GuardedText& guarded = lastGuarded();
        std::lock_guard<std::mutex> lock(guarded.mutex);
        if (!guarded.valid || guarded.source != req.source || guarded.preamble != req.preamble) {
            guarded.valid = false;
            if (!guardInput(req.source, req.preamble, lang, req.locate, errors, guarded.expanded))
                return false;
            guarded.source = req.source;
            guarded.preamble = req.preamble;
            guarded.valid = true;
        }
        expanded = guarded.expanded;
    }
    std::unique_ptr<glslang::TShader> shader =
        parseExpanded(lang, req.source, expanded, req.preamble, req.entryPoint, req.locate, errors);
    if (!shader) {
        if (errors.empty())
            errors = "error: compilation failed\n";
        return false;
    }
    glslang::TProgram program;
    program.addShader(shader.get());
    bool linked = program.link(kMessages) && program.mapIO();
    std::string log = program.getInfoLog() ? program.getInfoLog() : "";
    // glslang only warns about a missing entry point.
    if (log.find("Entry point not found") != std::string::npos)
        return fail("error X3501: '" + req.entryPoint + "': entrypoint not found");
    if (!linked)
        return fail("error: " + trim(log));
    glslang::SpvOptions options;
    options.disableOptimizer = true;  // legalised below
    options.validate = false;
    spv::SpvBuildLogger logger;
    glslang::GlslangToSpv(*program.getIntermediate(lang), spirv, &logger, &options);
    if (spirv.empty())
        return fail("error: " + trim(logger.getAllMessages()));
    if (req.optimize && inlinedSize(spirv) > platform::limits::inlinedInstructions)
        return fail("error: '" + req.entryPoint + "': its function calls inline to more than " +
                    std::to_string(platform::limits::inlinedInstructions) + " instructions");
    legaliseAndTrim(spirv, req.optimize);
    return true;
}

// Only parses (and type-checks) as a pixel shader with no entry point.
bool syntaxCheck(const std::string& source, const std::string& preamble,
                 const std::function<std::string(uint32_t, uint32_t)>& locate, std::string& errors)
{
    std::string expanded;
    if (!guardInput(source, preamble, EShLangFragment, locate, errors, expanded))
        return false;
    return parseExpanded(EShLangFragment, source, expanded, preamble, "dx_no_entry_point", locate, errors) != nullptr;
}

std::atomic<bool> compilesInProcess{false};

// Requests to the helper and their replies. A location in a message
// travels as a marker, "\x01line,column\x02", which the program turns into
// the effect's file and line: the map of those is the program's.
enum class Request : uint32_t { Check = 1, Compile = 2 };

std::string locationMarker(uint32_t line, uint32_t column)
{
    return "\x01" + std::to_string(line) + "," + std::to_string(column) + "\x02";
}

std::string resolveLocations(const std::string& text, const std::function<std::string(uint32_t, uint32_t)>& locate)
{
    std::string out;
    for (size_t pos = 0; pos < text.size();) {
        const size_t open = text.find('\x01', pos);
        const size_t close = open == std::string::npos ? open : text.find('\x02', open);
        unsigned line = 0, column = 0;
        int used = 0;
        if (close == std::string::npos || close - open > 24 ||
            std::sscanf(text.c_str() + open + 1, "%u,%u%n", &line, &column, &used) != 2 ||
            open + 1 + size_t(used) != close) {
            out.append(text, pos, close == std::string::npos ? std::string::npos : close + 1 - pos);
            pos = close == std::string::npos ? text.size() : close + 1;
            continue;
        }
        out.append(text, pos, open - pos);
        out += locate(line, column);
        pos = close + 1;
    }
    return out;
}

// In the helper: one request's work on a stack large enough for glslang.
std::string serveRequest(const std::string& request)
{
    size_t pos = 0;
    uint32_t kind = 0, stage = 0, optimize = 0;
    HlslCompileRequest req;
    req.locate = &locationMarker;
    bool ok = getWord(request, pos, kind) && getText(request, pos, req.source) && getText(request, pos, req.preamble);
    if (ok && kind == uint32_t(Request::Compile)) {
        ok = getWord(request, pos, stage) && getWord(request, pos, optimize) && getText(request, pos, req.entryPoint);
        req.stage = stage == uint32_t(ShaderStage::Vertex) ? ShaderStage::Vertex : ShaderStage::Pixel;
        req.optimize = optimize != 0;
    }
    std::string errors;
    std::vector<unsigned> spirv;
    bool done = false;
    if (ok) {
        auto work = [&] {
            return kind == uint32_t(Request::Compile) ? frontEnd(req, spirv, errors)
                                                      : syntaxCheck(req.source, req.preamble, req.locate, errors);
        };
        // The helper was forked from a large-stack thread and runs on its
        // copy: a thread started in the child of a threaded process would
        // begin from whatever the parent's other threads left at the fork.
        if (onFrontEndStack) {
            try {
                done = work();
            } catch (...) {
                done = false;
            }
        } else {
            done = onLargeStack(work);
        }
    }
    std::string reply;
    putWord(reply, done ? 1 : 0);
    putText(reply, errors);
    putWord(reply, uint32_t(spirv.size()));
    if (!spirv.empty())
        reply.append(reinterpret_cast<const char*>(spirv.data()), spirv.size() * 4);
    return reply;
}

// Sends a request to a helper; false with D3DX-shaped errors. The guard
// refuses what glslang is known to mishandle, but its semantic checks still
// dereference null on some errors no token check can see (a ?: whose
// branches disagree in type, used in a return), and no bound on the text
// bounds every pass's time: in the helper either costs the effect, not the
// program, and the wait ends when the program is asked to end.
bool askHelper(const std::string& request, const std::function<std::string(uint32_t, uint32_t)>& locate,
               std::vector<unsigned>* spirv, std::string& errors)
{
    std::string reply;
    HelperOutcome outcome = HelperOutcome::Failed;
    auto ask = [&] {
        outcome = runInHelper(&serveRequest, request, reply);
        return true;
    };
    // A helper is forked from the asking thread: ask from a large stack.
    if (onFrontEndStack)
        ask();
    else
        onCompileThread(ask);
    if (outcome != HelperOutcome::Done) {
        errors += helperOutcomeMessage(outcome);
        return false;
    }
    size_t pos = 0;
    uint32_t ok = 0, words = 0;
    std::string messages;
    if (!getWord(reply, pos, ok) || !getText(reply, pos, messages) || !getWord(reply, pos, words) ||
        (reply.size() - pos) / 4 != words || (reply.size() - pos) % 4 != 0) {
        errors += helperOutcomeMessage(HelperOutcome::Failed);
        return false;
    }
    errors += resolveLocations(messages, locate);
    if (spirv && words > 0) {
        spirv->resize(words);
        std::memcpy(spirv->data(), reply.data() + pos, size_t(words) * 4);
    }
    return ok != 0;
}

} // namespace

void setCompilesInProcess(bool inProcess)
{
    compilesInProcess = inProcess;
}

bool hlslToSpirv(const HlslCompileRequest& req, std::vector<unsigned>& spirv, std::string& errors)
{
    if (compilesInProcess)
        return frontEnd(req, spirv, errors);
    if (req.source.size() > size_t(INT_MAX) || req.preamble.size() > size_t(INT_MAX)) {
        errors += "error: effect text too large\n";
        return false;
    }
    std::string request;
    putWord(request, uint32_t(Request::Compile));
    putText(request, req.source);
    putText(request, req.preamble);
    putWord(request, uint32_t(req.stage));
    putWord(request, req.optimize ? 1 : 0);
    putText(request, req.entryPoint);
    if (askHelper(request, req.locate, &spirv, errors))
        return true;
    if (errors.empty())
        errors = "error: compilation failed\n";
    return false;
}

bool checkHlslSyntax(const std::string& source, const std::string& preamble,
                     const std::function<std::string(uint32_t, uint32_t)>& locate, std::string& errors)
{
    if (source.size() > size_t(INT_MAX) || preamble.size() > size_t(INT_MAX)) {
        errors = "error: effect text too large\n";
        return false;
    }
    std::unique_lock<std::shared_mutex> lock(compileMutex());
    initialiseGlslang();
    std::string request;
    putWord(request, uint32_t(Request::Check));
    putText(request, source);
    putText(request, preamble);
    std::string messages;
    if (askHelper(request, locate, nullptr, messages))
        return true;
    errors = messages.empty() ? "error: the effect does not parse\n" : messages;
    return false;
}

} // namespace platform::d3dx9

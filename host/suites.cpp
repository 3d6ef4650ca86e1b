// The function tables the host hands to a module: the basic suite, the ANSI
// suite, the interaction and utility callbacks, and the registration callback.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host_impl.h"

namespace vshost {

namespace {

thread_local Host::Impl* t_current_host = nullptr;

// Texts read from a module are bounded: a missing terminator must not run
// the host off into unrelated memory.
constexpr std::size_t kMaxModuleText = 4096;

std::string ModuleText(const void* text) {
    if (text == nullptr) return {};
    const char* chars = static_cast<const char*>(text);
    std::size_t length = 0;
    while (length < kMaxModuleText && chars[length] != '\0') ++length;
    return std::string(chars, length);
}

// ---- basic suite ----

SPErr AcquireSuite(const char* name, std::int32_t version, const void** suite) {
    if (suite != nullptr) *suite = nullptr;
    Host::Impl* host = CurrentHost();
    if (host == nullptr) return kSPSuiteNotFoundError;
    std::lock_guard lock(host->mutex);
    SPErr result = kSPSuiteNotFoundError;
    if (name == nullptr || suite == nullptr) {
        result = kSPBadParameterError;
    } else if (host->observer != nullptr && host->observer->AnswerAcquire(name, result)) {
        // Answered without a table, so no reference is taken.
    } else if (auto it = host->suites.find({name, version}); it != host->suites.end()) {
        *suite = it->second;
        ++host->references[it->first];
        result = kSPNoError;
    }
    if (host->observer != nullptr) {
        host->observer->SuiteCalled(
            SuiteCall{SuiteCall::Kind::Acquire, name != nullptr ? name : "", version, result});
    }
    return result;
}

SPErr ReleaseSuite(const char* name, std::int32_t version) {
    Host::Impl* host = CurrentHost();
    if (host == nullptr) return kSPSuiteNotFoundError;
    std::lock_guard lock(host->mutex);
    SPErr result = kSPBadParameterError;
    if (name != nullptr) {
        const Host::Impl::SuiteKey key{name, version};
        auto it = host->references.find(key);
        if (it == host->references.end()) {
            result = host->suites.count(key) != 0 ? kSPSuiteAlreadyReleasedError
                                                  : kSPSuiteNotFoundError;
        } else {
            // An observer's error answer still drops the reference: the
            // release happened, only its answer is bad.
            if (--it->second == 0) host->references.erase(it);
            result = host->observer != nullptr ? host->observer->ReleaseAnswer(kSPNoError)
                                               : kSPNoError;
        }
    }
    if (host->observer != nullptr) {
        host->observer->SuiteCalled(
            SuiteCall{SuiteCall::Kind::Release, name != nullptr ? name : "", version, result});
    }
    return result;
}

SPBoolean IsEqual(const char* token1, const char* token2) {
    return token1 != nullptr && token2 != nullptr && std::strcmp(token1, token2) == 0;
}

constexpr SPErr kSPOutOfMemoryError = -148;

SPErr AllocateBlock(std::size_t size, void** block) {
    if (block == nullptr) return kSPBadParameterError;
    *block = std::malloc(size != 0 ? size : 1);
    return *block != nullptr ? kSPNoError : kSPOutOfMemoryError;
}

SPErr FreeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}

SPErr ReallocateBlock(void* block, std::size_t new_size, void** new_block) {
    if (new_block == nullptr) return kSPBadParameterError;
    void* moved = std::realloc(block, new_size != 0 ? new_size : 1);
    if (moved == nullptr) return kSPOutOfMemoryError;
    *new_block = moved;
    return kSPNoError;
}

SPErr Undefined() {
    return kSPUnimplementedError;
}

// ---- ANSI entries ----

double Atan(double v) { return std::atan(v); }
double Atan2(double y, double x) { return std::atan2(y, x); }
double Ceil(double v) { return std::ceil(v); }
double Cos(double v) { return std::cos(v); }
double Exp(double v) { return std::exp(v); }
double Fabs(double v) { return std::fabs(v); }
double Floor(double v) { return std::floor(v); }
double Fmod(double x, double y) { return std::fmod(x, y); }
double Hypot(double x, double y) { return std::hypot(x, y); }
double Log(double v) { return std::log(v); }
double Log10(double v) { return std::log10(v); }
double Pow(double x, double y) { return std::pow(x, y); }
double Sin(double v) { return std::sin(v); }
double Sqrt(double v) { return std::sqrt(v); }
double Tan(double v) { return std::tan(v); }
double Asin(double v) { return std::asin(v); }
double Acos(double v) { return std::acos(v); }

// The entry has no size argument. Every destination a module of this API
// formats into is a message field of PF_MAX_EFFECT_MSG_LEN + 1 bytes
// (return_msg), so writes stop there: a longer text is cut, never spilled.
constexpr int kMessageBytes = PF_MAX_EFFECT_MSG_LEN + 1;

int AnsiSprintf(char* buffer, const char* format, ...) {
    if (buffer == nullptr) return -1;
    if (format == nullptr) {
        buffer[0] = '\0';
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(buffer, kMessageBytes, format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[0] = '\0';
        return wanted;
    }
    return std::min(wanted, kMessageBytes - 1);
}

char* AnsiStrcpy(char* dst, const char* src) {
    if (dst == nullptr || src == nullptr) return dst;
    return std::strcpy(dst, src);
}

template <typename Table>
void FillAnsi(Table& table) {
    table.atan = Atan;
    table.atan2 = Atan2;
    table.ceil = Ceil;
    table.cos = Cos;
    table.exp = Exp;
    table.fabs = Fabs;
    table.floor = Floor;
    table.fmod = Fmod;
    table.hypot = Hypot;
    table.log = Log;
    table.log10 = Log10;
    table.pow = Pow;
    table.sin = Sin;
    table.sqrt = Sqrt;
    table.tan = Tan;
    table.sprintf = AnsiSprintf;
    table.strcpy = AnsiStrcpy;
    table.asin = Asin;
    table.acos = Acos;
}

// ---- interaction callbacks ----

constexpr PF_ParamType kParamCheckBox = 4;
constexpr PF_ParamType kParamButton = 15;

std::string DefinitionText(const PF_ParamDef& def) {
    switch (def.param_type) {
    case PF_Param_POPUP: return ModuleText(def.u.pd.u.namesptr);
    case kParamCheckBox: return ModuleText(def.u.bd.u.nameptr);
    case kParamButton: return ModuleText(def.u.button_d.u.namesptr);
    default: return {};
    }
}

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
    Host::Impl* host = CurrentHost();
    if (host == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(host->mutex);
    const auto next_index = static_cast<PF_ParamIndex>(host->definitions.size() + 1);
    PF_Err result = PF_Err_NONE;
    if (def == nullptr || effect_ref != host->effect_ref()) {
        result = PF_Err_BAD_CALLBACK_PARAM;
    } else if (host->observer != nullptr) {
        result = host->observer->AddParamFault();
    }
    if (result == PF_Err_NONE && index != -1 && index != next_index) {
        // -1 appends; an explicit index must be the next free one.
        result = PF_Err_INVALID_INDEX;
    }
    if (result == PF_Err_NONE) {
        host->definitions.push_back(*def);
        host->definition_texts.push_back(DefinitionText(*def));
    }
    if (host->observer != nullptr) {
        AddParamCall call;
        call.index = index;
        if (def != nullptr) {
            call.def = *def;
            call.text = DefinitionText(*def);
        }
        call.result = result;
        host->observer->AddParamCalled(call);
    }
    return result;
}

PF_Err Abort(PF_ProgPtr) {
    return PF_Err_NONE;
}

PF_Err Progress(PF_ProgPtr, std::int32_t, std::int32_t) {
    return PF_Err_NONE;
}

// Entries of the iterate suites this host does not offer answer an error
// instead of leaving a null pointer for the module to call.
PF_Err IterateOrigin8Unsupported(PF_InData*, std::int32_t, std::int32_t, PF_EffectWorld*,
                                 const PF_Rect*, const PF_Point*, void*, PF_IteratePixel8Func,
                                 PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err IterateOrigin16Unsupported(PF_InData*, std::int32_t, std::int32_t, PF_EffectWorld*,
                                  const PF_Rect*, const PF_Point*, void*,
                                  PF_IteratePixel16Func, PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err IterateLutUnsupported(PF_InData*, std::int32_t, std::int32_t, PF_EffectWorld*,
                             const PF_Rect*, std::uint8_t*, std::uint8_t*, std::uint8_t*,
                             std::uint8_t*, PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err IterateGenericUnsupported(std::int32_t, void*, PF_IterateGenericFunc) {
    return PF_Err_INVALID_CALLBACK;
}

}  // namespace

Host::Impl* CurrentHost() {
    return t_current_host;
}

CurrentHostScope::CurrentHostScope(Host::Impl* host) : previous_(t_current_host) {
    t_current_host = host;
}

CurrentHostScope::~CurrentHostScope() {
    t_current_host = previous_;
}

A_Err RecordRegistration(PF_PluginDataPtr host_pointer, const A_u_char* name,
                         const A_u_char* match_name, const A_u_char* category,
                         const A_u_char* entry_point, std::int32_t kind,
                         std::int32_t api_major, std::int32_t api_minor,
                         std::int32_t reserved_info) {
    constexpr A_Err kGenericError = 1;
    Host::Impl* host = CurrentHost();
    if (host == nullptr) return kGenericError;
    std::lock_guard lock(host->mutex);
    if (host->registration == nullptr) return kGenericError;
    Registration& r = *host->registration;
    ++r.calls;
    r.host_pointer = host_pointer;
    r.name = ModuleText(name);
    r.match_name = ModuleText(match_name);
    r.category = ModuleText(category);
    r.entry_point = ModuleText(entry_point);
    r.kind = kind;
    r.api_major = api_major;
    r.api_minor = api_minor;
    r.reserved_info = reserved_info;
    return host->observer != nullptr ? host->observer->RegistrationAnswer() : 0;
}

void InstallCallbacks(Host::Impl& host) {
    host.basic.AcquireSuite = AcquireSuite;
    host.basic.ReleaseSuite = ReleaseSuite;
    host.basic.IsEqual = IsEqual;
    host.basic.AllocateBlock = AllocateBlock;
    host.basic.FreeBlock = FreeBlock;
    host.basic.ReallocateBlock = ReallocateBlock;
    host.basic.Undefined = Undefined;

    FillAnsi(host.ansi);
    FillAnsi(host.utils.ansi);
    host.utils.iterate = Iterate8;
    host.utils.iterate16 = Iterate16;
    host.utils.iterate_origin = IterateOrigin8Unsupported;
    host.utils.iterate_lut = IterateLutUnsupported;
    host.utils.iterate_origin_non_clip_src = IterateOrigin8Unsupported;
    host.utils.iterate_generic = IterateGenericUnsupported;
    host.utils.iterate_origin16 = IterateOrigin16Unsupported;
    host.utils.iterate_origin_non_clip_src16 = IterateOrigin16Unsupported;

    host.iterate8.iterate = Iterate8;
    host.iterate8.iterate_origin = IterateOrigin8Unsupported;
    host.iterate8.iterate_lut = IterateLutUnsupported;
    host.iterate8.iterate_origin_non_clip_src = IterateOrigin8Unsupported;
    host.iterate8.iterate_generic = IterateGenericUnsupported;
    host.iterate16.iterate = Iterate16;
    host.iterate16.iterate_origin = IterateOrigin16Unsupported;
    host.iterate16.iterate_origin_non_clip_src = IterateOrigin16Unsupported;

    host.in_data.inter.add_param = AddParam;
    host.in_data.inter.abort = Abort;
    host.in_data.inter.progress = Progress;

    host.suites[{kPFANSISuite, kPFANSISuiteVersion1}] = &host.ansi;
    host.suites[{kPFIterate8Suite, kPFIterate8SuiteVersion1}] = &host.iterate8;
    host.suites[{kPFIterate16Suite, kPFIterate16SuiteVersion1}] = &host.iterate16;
}

}  // namespace vshost

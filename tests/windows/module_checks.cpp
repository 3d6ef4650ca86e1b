// Checks of Lanthorn.aex as Windows loads it, run under Wine: the exports by
// name and ordinal, the resources as the loader finds them, and every command
// once through our host. Prints "N passed, M failed"; exits non-zero on any
// failure.
//
//   module_checks PATH\Lanthorn.aex
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/host_probe/host_probe.h"
#include "module/resources/pipl.h"
#include "manifest_bytes.h"
#include "tests/windows/pipl_expectations.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

constexpr WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The bytes of one resource, or nothing when the loader cannot find it.
std::vector<std::uint8_t> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    HRSRC info = FindResourceExA(module, type, name, language);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, info);
    if (!data) return {};
    return {data, data + size};
}

std::string ResourceName(LPSTR name) {
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                : std::string(name);
}

// Every type/name/language triple in the module, as "type/name/language".
std::vector<std::string> ListResources(HMODULE module) {
    std::vector<std::string> found;
    struct Walk {
        static BOOL CALLBACK Language(HMODULE, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR list) {
            reinterpret_cast<std::vector<std::string>*>(list)->push_back(
                ResourceName(const_cast<LPSTR>(type)) + "/" +
                ResourceName(const_cast<LPSTR>(name)) + "/" + std::to_string(lang));
            return TRUE;
        }
        static BOOL CALLBACK Name(HMODULE m, LPCSTR type, LPSTR name, LONG_PTR list) {
            EnumResourceLanguagesA(m, type, name, Language, list);
            return TRUE;
        }
        static BOOL CALLBACK Type(HMODULE m, LPSTR type, LONG_PTR list) {
            EnumResourceNamesA(m, type, Name, list);
            return TRUE;
        }
    };
    EnumResourceTypesA(module, Walk::Type, reinterpret_cast<LONG_PTR>(&found));
    return found;
}

void CheckLoadedModule(const vshost::Module& loaded) {
    // The mapping Module::Open made: the one that holds EffectMain.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(loaded.effect_main()), &module);
    Check(module != nullptr, "the module is mapped after loading");
    if (!module) return;

    for (const char* name : {"EffectMain", "PluginDataEntryFunction"}) {
        Check(GetProcAddress(module, name) != nullptr, std::string("export ") + name);
    }
    Check(GetProcAddress(module, MAKEINTRESOURCEA(1)) == GetProcAddress(module, "EffectMain"),
          "ordinal 1 is EffectMain");
    Check(GetProcAddress(module, MAKEINTRESOURCEA(2)) ==
              GetProcAddress(module, "PluginDataEntryFunction"),
          "ordinal 2 is PluginDataEntryFunction");
    Check(GetProcAddress(module, MAKEINTRESOURCEA(3)) == nullptr, "no ordinal 3");

    // The host looks the property list up as "PiPL"; resource types match
    // without regard to case.
    for (const char* type : {"PIPL", "PiPL"}) {
        const auto pipl = ResourceBytes(module, type, MAKEINTRESOURCEA(pipl::kResourceId), kUsEnglish);
        const auto mismatches = pipl_expect::Mismatches(pipl.data(), pipl.size());
        for (const auto& m : mismatches) std::printf("  %s: %s\n", type, m.c_str());
        Check(mismatches.empty(), std::string("property list found as ") + type +
                                      " 16000 matches the table byte for byte");
        Check(pipl.size() == pipl::kBytes.size() &&
                  std::memcmp(pipl.data(), pipl::kBytes.data(), pipl.size()) == 0,
              "property list equals the bytes it was built from");
    }
    const auto manifest = ResourceBytes(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2), kUsEnglish);
    Check(manifest.size() == 381 && manifest.size() == sizeof kManifestBytes &&
              std::memcmp(manifest.data(), kManifestBytes, manifest.size()) == 0,
          "manifest 24/2 is the 381 bytes of manifest.xml");

    const auto resources = ListResources(module);
    std::string listed;
    for (const auto& r : resources) listed += " " + r;
    Check(resources == std::vector<std::string>{"PIPL/#16000/1033", "#24/#2/1033"},
          "the resources are the property list and the manifest, nothing else:" + listed);
}

void CheckCommands(const vshost::Module& module) {
    vshost::HostProbe host(module);

    vshost::Registration reg;
    Check(host.Register(reg) == PF_Err_NONE, "registration succeeds");
    Check(reg.calls == 1 && reg.host_pointer == host.plugin_data_pointer(),
          "registration calls back once with the host's pointer");
    Check(reg.name == "Lanthorn" && reg.match_name == "BRVN VS" && reg.category == "Brevanor" &&
              reg.entry_point == "EffectMain",
          "registration texts");
    Check(reg.kind == 0x65464B54 && reg.api_major == 13 && reg.api_minor == 25 &&
              reg.reserved_info == 8,
          "registration kind and versions");

    PF_OutData out{};
    out.out_flags = 0x11;
    Check(host.GlobalSetup(out) == PF_Err_NONE, "global setup succeeds");
    Check(out.my_version == pipl::kModuleVersion &&
              out.my_version == pipl_expect::ReadU32(&pipl::kBytes[154 + 16]),
          "global setup reports the version the property list carries");
    Check(static_cast<std::uint32_t>(out.out_flags) == pipl::kGlobalOutFlags &&
              static_cast<std::uint32_t>(out.out_flags) == pipl_expect::ReadU32(&pipl::kBytes[194 + 16]),
          "global setup reports the flags the property list carries");

    out = PF_OutData{};
    Check(host.About(out) == PF_Err_NONE, "About succeeds");
    Check(std::string(out.return_msg) == "Velvetshade v1.0\rQuillfern Velvetshade",
          "About text: " + std::string(out.return_msg));

    out = PF_OutData{};
    Check(host.ParamsSetup(out) == PF_Err_NONE && out.num_params == 11 &&
              host.definitions().size() == 10,
          "parameter setup registers ten parameters and reports 11");

    for (bool deep : {false, true}) {
        vshost::World input(13, 9, deep);
        vshost::World output(13, 9, deep);
        if (deep)
            input.Fill(PF_Pixel16{32768, 20000, 12000, 4000});
        else
            input.Fill(PF_Pixel8{255, 200, 120, 40});
        auto values = host.DefaultValues();
        Check(host.Render(values, input, output) == PF_Err_NONE,
              deep ? "16-bit render succeeds" : "8-bit render succeeds");
        // The output starts transparent; the look copies alpha into every pixel.
        bool alpha_copied = true;
        for (std::int32_t y = 0; y < output.height(); ++y)
            for (std::int32_t x = 0; x < output.width(); ++x)
                alpha_copied &= deep ? output.row16(y)[x].alpha == 32768 : output.row8(y)[x].alpha == 255;
        Check(alpha_copied, deep ? "16-bit render wrote every pixel" : "8-bit render wrote every pixel");
    }
    Check(host.outstanding_suites().empty(), "every suite acquired was released");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: module_checks MODULE\n");
        return 2;
    }
    std::string error;
    auto module = vshost::Module::Open(argv[1], error);
    Check(module != nullptr, "LoadLibrary of " + std::string(argv[1]) + " " + error);
    if (module) {
        CheckLoadedModule(*module);
        CheckCommands(*module);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

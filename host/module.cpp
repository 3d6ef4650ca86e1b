#include <cstring>
#include <system_error>

#include "host/host.h"
#include "host/platform_library.h"

namespace vshost {

namespace {
template <typename Function>
Function AsFunction(void* symbol) {
    static_assert(sizeof(Function) == sizeof(void*));
    Function function;
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}
}  // namespace

std::unique_ptr<Module> Module::Open(const std::filesystem::path& path, std::string& error) {
    const std::string shown = "'" + path.string() + "'";
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        error = "cannot open effect module " + shown + ": no such file";
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "cannot open effect module " + shown + ": not a regular file";
        return nullptr;
    }

    std::string reason;
    void* library = platform::LoadLibraryFile(path, reason);
    if (library == nullptr) {
        error = "cannot load " + shown + " as a library: " + reason;
        return nullptr;
    }

    void* effect_main = platform::FindExport(library, "EffectMain");
    void* plugin_data_entry = platform::FindExport(library, "PluginDataEntryFunction");
    if (effect_main == nullptr || plugin_data_entry == nullptr) {
        std::string missing;
        if (effect_main == nullptr) missing = "EffectMain";
        if (plugin_data_entry == nullptr) {
            missing += missing.empty() ? "" : " and ";
            missing += "PluginDataEntryFunction";
        }
        platform::UnloadLibraryFile(library);
        error = shown + " is not an effect module: it does not export " + missing;
        return nullptr;
    }

    std::unique_ptr<Module> module(new Module());
    module->handle_ = library;
    module->effect_main_ = AsFunction<PF_FilterProc>(effect_main);
    module->plugin_data_entry_ = AsFunction<PluginDataEntryFunctionPtr>(plugin_data_entry);
    module->path_ = path;
    return module;
}

Module::~Module() {
    platform::UnloadLibraryFile(handle_);
}

void* Module::FindSymbol(const char* name) const {
    return name != nullptr ? platform::FindExport(handle_, name) : nullptr;
}

}  // namespace vshost

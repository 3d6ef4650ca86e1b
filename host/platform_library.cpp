#include "host/platform_library.h"

#include <map>
#include <mutex>
#include <system_error>
#include <utility>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vshost::platform {

#ifdef _WIN32

namespace {
std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text != nullptr ? std::string(text, length)
                                                         : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    // Some system messages name the file as an unfilled "%1".
    for (auto at = message.find("%1"); at != std::string::npos; at = message.find("%1")) {
        message.replace(at, 2, "the file");
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}
}  // namespace

void* LoadLibraryFile(const std::filesystem::path& path, std::string& error) {
    // No error dialog boxes: a bad file must come back as a value.
    const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryW(path.wstring().c_str());
    const DWORD code = GetLastError();
    SetErrorMode(old_mode);
    if (library == nullptr) error = SystemMessage(code);
    return reinterpret_cast<void*>(library);
}

void* FindExport(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibraryFile(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::filesystem::path ExecutablePath() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0) return {};
        if (length < name.size()) return std::filesystem::path(name.substr(0, length));
        name.resize(name.size() * 2);
    }
}

namespace {
void* OwnExport(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name));
}
}  // namespace

#else

void* LoadLibraryFile(const std::filesystem::path& path, std::string& error) {
    // RTLD_LOCAL keeps two modules' symbols apart; RTLD_NOW reports missing
    // dependencies at load time rather than mid-render.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown loader error";
    }
    return library;
}

void* FindExport(void* library, const char* name) {
    return dlsym(library, name);
}

void UnloadLibraryFile(void* library) {
    if (library != nullptr) dlclose(library);
}

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

namespace {
void* OwnExport(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}
}  // namespace

#endif

std::filesystem::path FindCompanion(const Companion& companion, std::string& error) {
    const std::filesystem::path program = ExecutablePath();
    if (program.empty()) {
        error = std::string("the system does not say where the program is, so ") + companion.file +
                " cannot be found beside it";
        return {};
    }
    const std::filesystem::path beside = program.parent_path();
    const std::filesystem::path installed = beside.parent_path() / companion.install_folder;
    for (const auto& folder : {beside, installed}) {
        std::error_code ec;
        if (std::filesystem::exists(folder / companion.file, ec)) return folder / companion.file;
    }
    error = std::string(companion.file) + " is missing: it is neither beside the program in " + beside.string() +
            " nor in " + installed.string();
    return {};
}

void* LoadCompanion(const Companion& companion, std::string& error) {
    struct Loaded {
        void* entry = nullptr;
        std::string error;
    };
    // Guarded by the mutex, which is held while a library loads: a second
    // thread asking for it meanwhile waits for the same answer.
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, Loaded> loaded;
    const std::lock_guard lock(mutex);
    auto [it, first] = loaded.try_emplace({companion.file, companion.entry});
    Loaded& found = it->second;
    if (first) {
        found.entry = OwnExport(companion.entry);
        const std::filesystem::path path =
            found.entry != nullptr ? std::filesystem::path() : FindCompanion(companion, found.error);
        if (!path.empty()) {
            std::string reason;
            void* library = LoadLibraryFile(path, reason);
            // The system's reason may begin with the file's name already.
            if (const std::string named = path.string() + ": "; reason.starts_with(named)) {
                reason.erase(0, named.size());
            }
            if (library == nullptr) {
                found.error = "cannot load " + path.string() + ": " + reason;
            } else if ((found.entry = FindExport(library, companion.entry)) == nullptr) {
                found.error = path.string() + " does not export its entry point " + companion.entry;
                UnloadLibraryFile(library);
            }
        }
    }
    if (found.entry == nullptr) error = found.error;
    return found.entry;
}

}  // namespace vshost::platform

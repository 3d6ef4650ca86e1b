#include "host/platform_library.h"

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

#endif

}  // namespace vshost::platform

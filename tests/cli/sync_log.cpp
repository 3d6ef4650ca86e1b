// Preloaded into velvetshade: logs fsync and the renames in call order to the
// file named by VS_SYNC_LOG ("fsync PATH", "rename FROM TO"), then does them.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

void Log(const std::string& line) {
    const char* file = std::getenv("VS_SYNC_LOG");
    if (file == nullptr) return;
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string text = line + "\n";
    if (fd >= 0 && ::write(fd, text.data(), text.size()) < 0) {}
    if (fd >= 0) ::close(fd);
}

std::string PathOf(int fd) {
    char buffer[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, std::size_t(n)) : "?";
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int fsync(int fd) {
    Log("fsync " + PathOf(fd));
    return Next<int (*)(int)>("fsync")(fd);
}

extern "C" __attribute__((visibility("default"))) int rename(const char* from, const char* to) {
    Log(std::string("rename ") + from + " " + to);
    return Next<int (*)(const char*, const char*)>("rename")(from, to);
}

extern "C" __attribute__((visibility("default"))) int renameat2(int from_dir, const char* from, int to_dir,
                                                                const char* to, unsigned flags) {
    Log(std::string("rename ") + from + " " + to);
    return Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(from_dir, from, to_dir, to,
                                                                                   flags);
}

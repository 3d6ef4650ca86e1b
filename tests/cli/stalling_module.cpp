// A library whose loading never ends, like a library call stuck on a slow
// device: its initialiser waits for good. It first creates the file named by
// VS_STALL_MARKER, so that a test knows the tool is inside the call.
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void StallForever() {
    if (const char* marker = std::getenv("VS_STALL_MARKER")) ::close(::open(marker, O_CREAT | O_WRONLY, 0644));
    for (;;) ::pause();
}

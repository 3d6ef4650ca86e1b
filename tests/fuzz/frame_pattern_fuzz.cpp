// Frame patterns from any bytes: parsing never fails badly, and every frame
// name a pattern gives keeps its prefix, its suffix and its padding.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/images/sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto pattern = velvetshade::ParseFramePattern(text);
    if (!pattern) return 0;
    for (const int frame : {0, 1, 7, 1234, 2147483647}) {
        const std::string name = velvetshade::FramePath(*pattern, frame).filename().string();
        const std::string number = std::to_string(frame);
        const std::size_t width = std::max<std::size_t>(number.size(), std::size_t(pattern->digits));
        if (name.size() != pattern->prefix.size() + width + pattern->suffix.size() ||
            name.compare(0, pattern->prefix.size(), pattern->prefix) != 0 ||
            name.compare(name.size() - pattern->suffix.size(), std::string::npos, pattern->suffix) != 0 ||
            name.compare(pattern->prefix.size() + width - number.size(), number.size(), number) != 0) {
            std::abort();
        }
    }
    return 0;
}

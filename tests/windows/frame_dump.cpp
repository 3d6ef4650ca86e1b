// Renders the shared frame set through our host and either writes the result
// to a file or compares it with a file written on the other platform:
//
//   frame_dump MODULE OUTPUT               (under Wine, with Lanthorn.aex)
//   frame_dump --compare MODULE REFERENCE  (on Linux, with Lanthorn.so)
//
// Besides the pixels the dump holds the module's self-description (its
// registration, global setup, About text and parameter definitions), which
// must agree too. Exits non-zero on any difference or failed check.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/host_probe/host_probe.h"
#include "tests/windows/frame_set.h"

namespace {

struct FrameResult {
    std::string label;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t deep = 0;
    std::int32_t result = 0;
    std::vector<std::uint8_t> bytes;
};

struct Dump {
    std::string facts;
    std::vector<FrameResult> frames;
};

constexpr char kMagic[8] = {'V', 'S', 'F', 'R', 'A', 'M', 'E', '1'};

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        }
    }
    return out;
}

std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

// The module's self-description, one fact a line.
std::string DescribeModule(vshost::HostProbe& host, std::vector<std::string>& problems) {
    std::string facts;
    vshost::Registration reg;
    const PF_Err reg_result = host.Register(reg);
    facts += Format("registration: result %d, %d call(s), host pointer %s\n", reg_result,
                    reg.calls, reg.host_pointer == host.plugin_data_pointer() ? "passed on" : "changed");
    facts += "  name \"" + Escaped(reg.name) + "\", match name \"" + Escaped(reg.match_name) +
             "\", category \"" + Escaped(reg.category) + "\", entry point \"" +
             Escaped(reg.entry_point) + "\"\n";
    facts += Format("  kind 0x%08" PRIx32 ", API %" PRId32 ".%" PRId32 ", reserved %" PRId32 "\n",
                    static_cast<std::uint32_t>(reg.kind), reg.api_major, reg.api_minor,
                    reg.reserved_info);

    PF_OutData out{};
    const PF_Err setup_result = host.GlobalSetup(out);
    facts += Format("global setup: result %d, version 0x%08" PRIx32 ", flags 0x%08" PRIx32
                    ", flags2 0x%08" PRIx32 "\n",
                    setup_result, out.my_version, static_cast<std::uint32_t>(out.out_flags),
                    static_cast<std::uint32_t>(out.out_flags2));

    out = PF_OutData{};
    const PF_Err about_result = host.About(out);
    facts += Format("about: result %d, \"", about_result) +
             Escaped(Field(out.return_msg, sizeof out.return_msg)) + "\"\n";

    out = PF_OutData{};
    const PF_Err params_result = host.ParamsSetup(out);
    facts += Format("params setup: result %d, %d parameters\n", params_result, out.num_params);
    const auto& defs = host.definitions();
    const auto& texts = host.definition_texts();
    for (std::size_t i = 0; i < defs.size(); ++i) {
        const PF_ParamDef& d = defs[i];
        facts += Format("  param %zu: id %d, type %d, flags %d, ui flags %d, \"", i + 1, d.uu.id,
                        d.param_type, d.flags, d.ui_flags) +
                 Escaped(Field(d.name, sizeof d.name)) + "\"";
        if (d.param_type == PF_Param_FLOAT_SLIDER) {
            const PF_FloatSliderDef& s = d.u.fs_d;
            facts += Format(", value %.17g, valid %.9g..%.9g, slider %.9g..%.9g, default %.9g, "
                            "precision %d, display %d, fs flags %u, tolerance %.9g",
                            s.value, s.valid_min, s.valid_max, s.slider_min, s.slider_max,
                            s.dephault, s.precision, s.display_flags, s.fs_flags,
                            s.curve_tolerance);
        } else if (d.param_type == PF_Param_POPUP) {
            facts += Format(", value %d, %d choices, default %d, items \"", d.u.pd.value,
                            d.u.pd.num_choices, d.u.pd.dephault) +
                     Escaped(i < texts.size() ? texts[i] : std::string()) + "\"";
        }
        facts += "\n";
    }
    if (reg_result != 0 || setup_result != 0 || about_result != 0 || params_result != 0)
        problems.push_back("a setup command failed");
    if (defs.empty()) problems.push_back("the module registered no parameters");
    return facts;
}

// Checks that hold on each platform alone: every pixel written, alpha passed
// through, nothing written past a row, every suite given back.
void CheckFrame(const frame_set::Frame& frame, const vshost::World& input,
                const vshost::World& output, PF_Err result, vshost::HostProbe& host,
                std::vector<std::string>& problems) {
    if (result != PF_Err_NONE) {
        problems.push_back(frame.label + Format(": render returned %d", result));
        return;
    }
    for (std::int32_t y = 0; y < output.height(); ++y) {
        for (std::int32_t x = 0; x < output.width(); ++x) {
            const bool same_alpha = output.deep()
                                        ? output.row16(y)[x].alpha == input.row16(y)[x].alpha
                                        : output.row8(y)[x].alpha == input.row8(y)[x].alpha;
            if (!same_alpha) {
                problems.push_back(frame.label + Format(": pixel %d,%d not written or alpha changed", x, y));
                return;
            }
        }
    }
    if (!output.PaddingIntact() || !input.PaddingIntact())
        problems.push_back(frame.label + ": row padding overwritten");
    if (!host.outstanding_suites().empty())
        problems.push_back(frame.label + ": suites not released");
}

std::unique_ptr<vshost::Module> OpenModule(const char* path) {
    std::string error;
    auto module = vshost::Module::Open(path, error);
    if (!module) std::fprintf(stderr, "cannot load %s: %s\n", path, error.c_str());
    return module;
}

bool RenderAll(const vshost::Module& module, Dump& dump, std::vector<std::string>& problems) {
    vshost::HostProbe host(module);
    dump.facts = DescribeModule(host, problems);
    const auto frames = frame_set::BuildFrames(host.definitions());
    for (const frame_set::Frame& frame : frames) {
        vshost::World input(frame.width, frame.height, frame.deep, frame.row_padding);
        vshost::World output(frame.width, frame.height, frame.deep, frame.row_padding);
        frame_set::FillInput(input, frame.seed, frame.overrange_input);
        // Input alpha is odd, so an output pixel left at alpha 0 shows.
        if (frame.deep)
            output.Fill(PF_Pixel16{0, 1, 2, 3});
        else
            output.Fill(PF_Pixel8{0, 1, 2, 3});
        auto values = host.DefaultValues();
        frame_set::Apply(frame.settings, values);
        host.set_layer_size(frame.layer_width, frame.layer_height);
        const PF_Err result = host.Render(values, input, output, frame.scale);
        CheckFrame(frame, input, output, result, host, problems);
        dump.frames.push_back({frame.label, frame.width, frame.height, frame.deep ? 1 : 0, result,
                               frame_set::PixelBytes(output)});
    }
    return !dump.frames.empty();
}

// ---- the file --------------------------------------------------------------

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
    PutU32(out, static_cast<std::uint32_t>(size));
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

bool Write(const Dump& dump, const char* path) {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    PutBytes(out, dump.facts.data(), dump.facts.size());
    PutU32(out, static_cast<std::uint32_t>(dump.frames.size()));
    for (const FrameResult& f : dump.frames) {
        PutBytes(out, f.label.data(), f.label.size());
        PutU32(out, static_cast<std::uint32_t>(f.width));
        PutU32(out, static_cast<std::uint32_t>(f.height));
        PutU32(out, static_cast<std::uint32_t>(f.deep));
        PutU32(out, static_cast<std::uint32_t>(f.result));
        PutBytes(out, f.bytes.data(), f.bytes.size());
    }
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && written;
}

class Reader {
public:
    explicit Reader(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
    bool ok() const { return ok_; }
    std::uint32_t U32() {
        if (!Need(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(data_[pos_++]) << (8 * i);
        return v;
    }
    template <typename Container>
    void Bytes(Container& out) {
        const std::uint32_t size = U32();
        if (!Need(size)) return;
        out.assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   data_.begin() + static_cast<std::ptrdiff_t>(pos_ + size));
        pos_ += size;
    }
    bool Magic() {
        if (!Need(sizeof kMagic)) return false;
        ok_ = std::memcmp(&data_[pos_], kMagic, sizeof kMagic) == 0;
        pos_ += sizeof kMagic;
        return ok_;
    }
    bool AtEnd() const { return pos_ == data_.size(); }

private:
    bool Need(std::size_t n) {
        if (data_.size() - pos_ < n) ok_ = false;
        return ok_;
    }
    std::vector<std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

bool Read(const char* path, Dump& dump) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(file);
    Reader in(std::move(data));
    if (!in.Magic()) return false;
    in.Bytes(dump.facts);
    const std::uint32_t count = in.U32();
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        FrameResult f;
        in.Bytes(f.label);
        f.width = static_cast<std::int32_t>(in.U32());
        f.height = static_cast<std::int32_t>(in.U32());
        f.deep = static_cast<std::int32_t>(in.U32());
        f.result = static_cast<std::int32_t>(in.U32());
        in.Bytes(f.bytes);
        dump.frames.push_back(std::move(f));
    }
    return in.ok() && in.AtEnd();
}

// ---- comparison ------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

// Prints every difference (pixels: the first few of each frame); returns
// the number of differing facts and frames.
int Compare(const Dump& here, const Dump& reference) {
    int differences = 0;
    const auto a = Lines(here.facts);
    const auto b = Lines(reference.facts);
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string la = i < a.size() ? a[i] : "(missing)";
        const std::string lb = i < b.size() ? b[i] : "(missing)";
        if (la != lb) {
            ++differences;
            std::printf("fact differs:\n  here:      %s\n  reference: %s\n", la.c_str(), lb.c_str());
        }
    }
    if (here.frames.size() != reference.frames.size()) {
        std::printf("%zu frames here, %zu in the reference\n", here.frames.size(),
                    reference.frames.size());
        return differences + 1;
    }
    static const char* const kChannels[] = {"alpha", "red", "green", "blue"};
    for (std::size_t n = 0; n < here.frames.size(); ++n) {
        const FrameResult& x = here.frames[n];
        const FrameResult& y = reference.frames[n];
        if (x.label != y.label || x.width != y.width || x.height != y.height || x.deep != y.deep ||
            x.result != y.result || x.bytes.size() != y.bytes.size()) {
            ++differences;
            std::printf("frame %zu \"%s\" (result %d, %zu bytes) differs from the reference's "
                        "\"%s\" (result %d, %zu bytes)\n",
                        n, x.label.c_str(), x.result, x.bytes.size(), y.label.c_str(), y.result,
                        y.bytes.size());
            continue;
        }
        const std::size_t channel_size = x.deep ? 2 : 1;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < x.bytes.size(); i += channel_size) {
            if (std::memcmp(&x.bytes[i], &y.bytes[i], channel_size) == 0) continue;
            if (++differing > 5) continue;
            const std::size_t channel = i / channel_size;
            const std::size_t pixel = channel / 4;
            auto value = [&](const std::vector<std::uint8_t>& bytes) {
                return x.deep ? bytes[i] | bytes[i + 1] << 8 : bytes[i];
            };
            std::printf("frame %zu \"%s\": pixel %zu,%zu %s is %d here, %d in the reference\n", n,
                        x.label.c_str(), pixel % static_cast<std::size_t>(x.width),
                        pixel / static_cast<std::size_t>(x.width), kChannels[channel % 4],
                        value(x.bytes), value(y.bytes));
        }
        if (differing > 0) {
            ++differences;
            std::printf("frame %zu \"%s\": %zu channel values differ\n", n, x.label.c_str(), differing);
        }
    }
    return differences;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: frame_dump MODULE OUTPUT\n"
                 "       frame_dump --compare MODULE REFERENCE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const bool compare = argc == 4 && std::strcmp(argv[1], "--compare") == 0;
    if (!compare && argc != 3) return Usage();
    const char* module_path = argv[compare ? 2 : 1];
    const char* file_path = argv[compare ? 3 : 2];

    auto module = OpenModule(module_path);
    if (!module) return 1;
    Dump dump;
    std::vector<std::string> problems;
    RenderAll(*module, dump, problems);
    for (const auto& p : problems) std::printf("problem: %s\n", p.c_str());

    std::size_t bytes = 0;
    for (const auto& f : dump.frames) bytes += f.bytes.size();
    std::printf("%zu frames rendered, %zu pixel bytes, %zu problems\n", dump.frames.size(), bytes,
                problems.size());

    if (!compare) {
        if (!Write(dump, file_path)) {
            std::fprintf(stderr, "cannot write %s\n", file_path);
            return 1;
        }
        return problems.empty() ? 0 : 1;
    }
    Dump reference;
    if (!Read(file_path, reference)) {
        std::fprintf(stderr, "cannot read %s as a frame dump\n", file_path);
        return 1;
    }
    const int differences = Compare(dump, reference);
    std::printf("%d differences from %s\n", differences, file_path);
    return differences == 0 && problems.empty() ? 0 : 1;
}

#include "cli/args.h"

#include <cctype>
#include <charconv>

namespace velvetshade {
namespace {

bool IsFlag(std::string_view name) {
    return name == "overwrite" || name == "quiet" || name == "chart" || name == "help" ||
           name == "version";
}

bool IsValueOption(std::string_view name) {
    return name == "module" || name == "set" || name == "depth" || name == "threads" ||
           name == "scale" || name == "frames" || name == "codec" || name == "crf" ||
           name == "size";
}

bool ParseSize(std::string_view text, int& width, int& height) {
    const auto x = text.find('x');
    long long w = 0, h = 0;
    if (x == std::string_view::npos || !ParseInt(text.substr(0, x), w) ||
        !ParseInt(text.substr(x + 1), h) || w < 16 || h < 16 || w > 16384 || h > 16384) {
        return false;
    }
    width = int(w);
    height = int(h);
    return true;
}

bool ApplyValueOption(std::string_view name, const std::string& value, Options& options,
                      std::string& error) {
    long long n = 0;
    if (name == "module") {
        options.module = value;
    } else if (name == "set") {
        const auto eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "--set takes \"Parameter Name=value\", got \"" + value + "\"";
            return false;
        }
        options.settings.push_back({value.substr(0, eq), value.substr(eq + 1), "--set \"" + value + "\""});
    } else if (name == "depth") {
        if (!ParseInt(value, n) || (n != 8 && n != 16)) {
            error = "--depth takes 8 or 16, got \"" + value + "\"";
            return false;
        }
        options.depth = int(n);
    } else if (name == "threads") {
        if (!ParseInt(value, n) || n < 0 || n > 1024) {
            error = "--threads takes a number from 0 (all cores) to 1024, got \"" + value + "\"";
            return false;
        }
        options.threads = int(n);
    } else if (name == "scale") {
        if (!ParseRatio(value, options.scale)) {
            error = "--scale takes a fraction A/B with 0 < A <= B (for example 1/2), got \"" +
                    value + "\"";
            return false;
        }
    } else if (name == "frames") {
        FrameRange range;
        if (!ParseFrameRange(value, range)) {
            error = "--frames takes FIRST-LAST (for example 1-48) or one frame number, got \"" +
                    value + "\"";
            return false;
        }
        options.frames = range;
    } else if (name == "codec") {
        if (value.empty() || value.find_first_of(" \t\n") != std::string::npos) {
            error = "--codec takes an FFmpeg encoder name, got \"" + value + "\"";
            return false;
        }
        options.codec = value;
    } else if (name == "crf") {
        if (!ParseInt(value, n) || n < 0 || n > 63) {
            error = "--crf takes a number from 0 to 63, got \"" + value + "\"";
            return false;
        }
        options.crf = int(n);
    } else if (name == "size") {
        if (!ParseSize(value, options.chart_width, options.chart_height)) {
            error = "--size takes WIDTHxHEIGHT, each 16 to 16384, got \"" + value + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseInt(std::string_view text, long long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool ParseRatio(std::string_view text, Ratio& ratio) {
    long long num = 0, den = 1;
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) {
        if (!ParseInt(text, num)) return false;
    } else if (!ParseInt(text.substr(0, slash), num) || !ParseInt(text.substr(slash + 1), den)) {
        return false;
    }
    if (num <= 0 || den <= 0 || num > den || den > 1 << 20) return false;
    ratio.num = std::int32_t(num);
    ratio.den = std::uint32_t(den);
    return true;
}

bool ParseFrameRange(std::string_view text, FrameRange& range) {
    long long first = 0, last = 0;
    const auto dash = text.find('-', 1);
    if (dash == std::string_view::npos) {
        if (!ParseInt(text, first)) return false;
        last = first;
    } else if (!ParseInt(text.substr(0, dash), first) || !ParseInt(text.substr(dash + 1), last)) {
        return false;
    }
    if (first < 0 || last < first || last > 999999999) return false;
    range.first = int(first);
    range.last = int(last);
    return true;
}

std::string OptionName(std::string_view parameter_name) {
    std::string out;
    bool gap = false;
    for (const char c : parameter_name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) {
            if (gap && !out.empty()) out += '-';
            out += char(std::tolower(u));
            gap = false;
        } else {
            gap = true;
        }
    }
    return out;
}

bool ParseArgs(int argc, const char* const* argv, Options& options, std::string& error) {
    std::vector<std::string> positional;
    bool options_end = false;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_end || arg.size() < 2 || arg[0] != '-' ) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        if (arg == "-h") {
            help = true;
            continue;
        }
        if (arg[1] != '-') {
            error = "unknown option " + arg + " (options are spelled --name; see --help)";
            return false;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (IsFlag(name)) {
            if (value) {
                error = "--" + name + " takes no value";
                return false;
            }
            if (name == "help") help = true;
            else if (name == "version") options.command = Command::Version;
            else if (name == "overwrite") options.overwrite = true;
            else if (name == "quiet") options.quiet = true;
            else if (name == "chart") options.chart = true;
            continue;
        }
        if (!value) {
            // Values may start with '-' (a negative slider value), so the next
            // argument is taken whatever it looks like.
            if (i + 1 >= argc) {
                error = "--" + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (IsValueOption(name)) {
            if (!ApplyValueOption(name, *value, options, error)) return false;
        } else {
            // Anything else names a parameter; the module decides whether it exists.
            options.settings.push_back({name, *value, "--" + name + " " + *value});
        }
    }

    if (help) {
        options.command = Command::Help;
        return true;
    }
    if (options.command == Command::Version) return true;
    if (positional.empty()) {
        error = "no command given; try velvetshade --help";
        return false;
    }
    const std::string& command = positional[0];
    const std::size_t operands = positional.size() - 1;
    if (command == "help") {
        options.command = Command::Help;
        return true;
    }
    if (command == "params" || command == "about") {
        options.command = command == "params" ? Command::Params : Command::About;
        if (operands != 0 || !options.settings.empty()) {
            error = command + " takes no file names or parameter values";
            return false;
        }
        return true;
    }
    if (command != "render") {
        error = "unknown command \"" + command + "\"; the commands are render, params and about";
        return false;
    }
    options.command = Command::Render;
    if (options.chart) {
        if (operands != 1) {
            error = "render --chart takes one file name, the output";
            return false;
        }
        options.output = positional[1];
    } else {
        if (operands != 2) {
            error = "render takes an input and an output file name (or --chart and an output)";
            return false;
        }
        options.input = positional[1];
        options.output = positional[2];
        if (options.input.empty() || options.output.empty()) {
            error = "file names must not be empty";
            return false;
        }
    }
    return true;
}

std::string UsageText() {
    return R"(Usage:
  velvetshade render IN OUT [options]     render an image, an image sequence or a video
  velvetshade render --chart OUT [options]  render the built-in test chart
  velvetshade params [--module PATH]      list the effect's parameters
  velvetshade about [--module PATH]       show the effect's About text
  velvetshade --help | --version

Parameters (names and ranges as the module registers them; see "velvetshade params"):
  --set "NAME=VALUE"        e.g. --set "Vignetting Amount=180" --set "X-Process Type=E6C41"
  --OPTION-NAME VALUE       the same, with the name in lower case and dashes:
                            --vignetting-amount 180 --x-process-type e6c41
  Pop-up items are chosen by text (any case) or by number from 1. A parameter whose
  option name equals one of the options below is set with --set.

Files:
  IN and OUT are images (PNG, TIFF, JPEG, OpenEXR and the other formats OpenImageIO
  reads), frame patterns (shot.%04d.png or shot.####.png) or videos (.mp4 .mov .mkv
  .webm .avi ...; read and written through ffmpeg, keeping frame rate and audio).
  OUT is written to a temporary file beside it and renamed into place when complete.

Options:
  --module PATH     the effect module (default: Lanthorn.so installed beside velvetshade)
  --depth 8|16      render depth (default: 8 for 8-bit inputs, 16 for deeper or float ones)
  --threads N       worker threads, 0 = all cores (default 0)
  --scale A/B       the input is a frame of a layer rendered at scale A/B (e.g. 1/2); the
                    layer's full size is the image size divided by the scale
  --frames A-B      frames of a frame pattern (default: all present on disk)
  --codec NAME      video encoder for video output (default: the container's usual one)
  --crf N           quality for encoders that take a constant rate factor
  --size WxH        size of the built-in chart (default 1024x640)
  --overwrite       replace an existing output file
  --quiet           no progress bar (shown only when standard error is a terminal)

Exit status: 0 done, 1 failed (nothing half-written is left), 2 bad command line or
parameter value, 130 interrupted.

16-bit images:
  Files hold 0..65535, the effect's 16-bit scale is 0..32768. velvetshade converts with
  exact integer rounding to nearest: host = (file*32768 + 32767) / 65535 and
  file = (host*65535 + 16384) / 32768 (integer division). 0 and 65535 map to 0 and 32768
  and back; every host value survives host->file->host; file->host->file changes a value
  by at most 1 (the host scale has 32769 steps for the file's 65536). Float inputs are
  clamped to 0..1 and rendered at 16 bits.
  An image without alpha renders as opaque and is written without alpha; alpha otherwise
  passes through unchanged.
)";
}

}  // namespace velvetshade

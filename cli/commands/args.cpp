#include "cli/commands/args.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <stdexcept>

#include "cli/effect/effect_params.h"
#include "cli/system/text.h"

namespace velvetshade {
namespace {

constexpr const char* kTool = "velvetshade";

// A usage error worded for the user. Option callbacks throw it as the option
// is read, so the first bad value on the command line is the one reported.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

// Present or absent; "--overwrite=yes" is refused rather than read as true.
void Flag(CLI::App& app, const std::string& name, bool& field, const std::string& help) {
    app.add_flag(name, field, help)->disable_flag_override();
}

// An option with one value, stored by parse; when parse refuses the text the
// message says what the option takes ("--depth takes 8 or 16, got ..."). A
// repeated option counts as its last use.
void Value(CLI::App& app, const std::string& name, const std::string& type, const std::string& help,
           const std::string& takes, std::function<bool(const std::string&)> parse) {
    app.add_option_function<std::string>(
           name,
           [name, takes, parse = std::move(parse)](const std::string& value) {
               if (!parse(value)) throw UsageError(name + " takes " + takes + ", got \"" + value + "\"");
           },
           help)
        ->type_name(type)
        ->trigger_on_parse();
}

// A whole decimal number that allowed accepts. CLI11 reads a leading 0 as
// octal and 0x as hex ("--frame 0010" would be frame 8, "--frame 0008" an
// error), so the number is read here and handed on in plain decimal.
CLI::Validator Integer(std::function<bool(long long)> allowed, const std::string& takes) {
    return CLI::Validator(
        [allowed = std::move(allowed), takes](std::string& value) {
            long long n = 0;
            if (!ParseInt(value, n) || !allowed(n)) return "takes " + takes + ", got \"" + value + "\"";
            value = std::to_string(n);
            return std::string();
        },
        "");
}

CLI::Validator IntegerIn(long long low, long long high, std::string takes = {}) {
    if (takes.empty()) takes = "a number from " + std::to_string(low) + " to " + std::to_string(high);
    return Integer([low, high](long long n) { return n >= low && n <= high; }, takes);
}

CLI::Validator IntegerOf(std::vector<long long> values, const std::string& takes) {
    return Integer([values = std::move(values)](long long n) {
        return std::find(values.begin(), values.end(), n) != values.end();
    }, takes);
}

// An option with one whole number, stored in field once allowed accepts it.
void Number(CLI::App& app, const std::string& name, const std::string& type, const std::string& help, int& field,
            CLI::Validator allowed) {
    app.add_option(name, field, help)->type_name(type)->transform(std::move(allowed))->trigger_on_parse();
}

// Options not known to a command go up to the tool's own (--module, --help,
// --version) and from there into the extras, which are reported afterwards.
CLI::App* AddCommand(CLI::App& app, Options& o, Command command, const std::string& name,
                     const std::string& help) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->fallthrough()->allow_extras()->footer("");
    sub->preparse_callback([&o, command](std::size_t) { o.command = command; });
    return sub;
}

void ModuleOption(CLI::App& app, Options& o) {
    Value(app, "--module", "PATH", "the effect module (default: Lanthorn.so installed beside velvetshade)",
          "a module file name", [&o](const std::string& v) {
              o.module = v;
              return !v.empty();
          });
}

void SetOption(CLI::App& app, Options& o) {
    Value(app, "--set", "NAME=VALUE", "set a parameter by its registered name", "\"Parameter Name=value\"",
          [&o](const std::string& v) {
              const auto eq = v.find('=');
              if (eq == std::string::npos || eq == 0) return false;
              o.settings.push_back({v.substr(0, eq), v.substr(eq + 1), "--set \"" + v + "\""});
              return true;
          });
}

// The look takes its place among the parameter options: those after it
// override it, it overrides those before.
void LookOption(CLI::App& app, Options& o) {
    Value(app, "--look", "FILE|NAME", "a look file, or a named look (velvetshade looks lists them)",
          "a look file or a look name", [&o](const std::string& v) {
              o.look = v;
              o.look_at = o.settings.size();
              return !v.empty();
          });
}

void ThreadsOption(CLI::App& app, Options& o) {
    Number(app, "--threads", "N", "worker threads, 0 = all cores (default 0)", o.threads,
           IntegerIn(0, 1024, "a number from 0 (all cores) to 1024"));
}

std::string Describe(const ParamInfo& p) {
    std::string text = p.name + ": ";
    if (p.kind == ParamInfo::Kind::Slider) {
        text += FormatFloat(p.min) + " to " + FormatFloat(p.max) + ", default " + FormatFloat(p.default_value);
    } else {
        text += ItemList(p);
        const auto d = std::size_t(p.default_value);
        if (d >= 1 && d <= p.items.size()) text += ", default " + p.items[d - 1];
    }
    return text;
}

// One option per settable parameter, in registration order. A name that
// collides with one of the tool's options, or with an earlier parameter's,
// stays reachable through --set. Returns the option names declared.
std::vector<std::string> AddParamOptions(CLI::App& app, const CLI::App& tool,
                                         const std::vector<ParamInfo>& params, Options& o) {
    std::vector<std::string> names;
    for (const ParamInfo& p : params) {
        const std::string name = "--" + p.option;
        if (p.kind == ParamInfo::Kind::Other || p.option.empty() || app.get_option_no_throw(name) ||
            tool.get_option_no_throw(name)) {
            continue;
        }
        try {
            app.add_option_function<std::string>(
                   name,
                   [&o, name, registered = p.name](const std::string& v) {
                       o.settings.push_back({registered, v, name + " " + v});
                   },
                   Describe(p))
                ->type_name(p.kind == ParamInfo::Kind::Slider ? "NUMBER" : "ITEM")
                ->ignore_case()
                ->trigger_on_parse()
                ->group("Effect parameters");
            names.push_back(name);
        } catch (const CLI::ConstructionError&) {
            // Not a name CLI11 accepts as an option, or one it matches to another
            // ignoring case: --set still reaches it.
        }
    }
    return names;
}

// Optimal string alignment distance: edits, with a swap of neighbours as one
// ("--overwirte" is one from "--overwrite").
std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The closest of names to typed, if close enough to be a slip of the keys.
std::string Nearest(const std::string& typed, const std::vector<std::string>& names) {
    std::string best;
    std::size_t best_distance = std::max<std::size_t>(1, typed.size() / 4) + 1;
    for (const auto& name : names) {
        const std::size_t d = Distance(Lower(typed), Lower(name));
        if (d < best_distance) {
            best = name;
            best_distance = d;
        }
    }
    return best;
}

// Long names only: every one-letter name is one edit from any other.
std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const auto& n : option->get_lnames()) names.push_back("--" + n);
    }
    return names;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        names.push_back(sub->get_name());
    }
    return names;
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

bool IsOptionLike(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && arg != "--" &&
           !std::isdigit(static_cast<unsigned char>(arg[1])) && arg[1] != '.';
}

std::string UnknownOption(const std::string& arg, const CLI::App& tool, const CLI::App* command,
                          const std::vector<std::string>& param_options) {
    const std::string typed = arg.substr(0, arg.find('='));
    std::vector<std::string> known = OptionNames(tool);
    if (command) {
        const auto own = OptionNames(*command);
        known.insert(known.end(), own.begin(), own.end());
    }
    const std::string message = "unknown option " + typed;
    if (const std::string near = Nearest(typed, known); near == typed) {
        // Known, but not where it stands: before its command, or after "--"
        // with no command at all.
        if (!command) return "unexpected " + typed + " (" + kTool + " --help lists the commands and options)";
        return typed + " is an option of " + command->get_name() + "; write it after the command";
    } else if (!near.empty()) {
        return message + "; did you mean " + near + "?";
    }
    if (command) {
        std::vector<std::string> owners;
        for (const CLI::App* other : tool.get_subcommands([](const CLI::App*) { return true; })) {
            if (other != command && other->get_option_no_throw(typed)) owners.push_back(other->get_name());
        }
        if (!owners.empty()) return typed + " is an option of " + Join(owners) + ", not of " + command->get_name();
    }
    const std::string listing = std::string(" (") + kTool + (command ? " " + command->get_name() : "") +
                                " --help lists the options)";
    if (typed.rfind("--", 0) != 0) return message + "; options are spelled --name" + listing;
    if (command && command->get_option_no_throw("--set") && !param_options.empty()) {
        return message + "; the effect's parameters are " + Join(param_options) + listing;
    }
    return message + listing;
}

// What is left after CLI11 took what it knows: options nobody declared and
// words where no command or file name fits.
void CheckExtras(const CLI::App& tool, const CLI::App* command, const std::vector<std::string>& param_options) {
    const std::vector<std::string> extras = tool.remaining(true);
    for (const auto& arg : extras) {
        if (IsOptionLike(arg)) throw UsageError(UnknownOption(arg, tool, command, param_options));
    }
    for (const auto& arg : extras) {
        if (arg == "--") continue;
        if (!command) {
            std::string message = "unknown command \"" + arg + "\"; the commands are " + Join(CommandNames(tool));
            if (const std::string near = Nearest(arg, CommandNames(tool)); !near.empty()) {
                message += "; did you mean " + near + "?";
            }
            throw UsageError(message);
        }
        throw UsageError(command->get_name() + " takes no file names or parameter values, got \"" + arg + "\"");
    }
}

std::string HelpText(const CLI::App& tool, const CLI::App* command) {
    if (command) {
        return command->get_formatter()->make_help(command, std::string(kTool) + " " + command->get_name(),
                                                   CLI::AppFormatMode::Normal);
    }
    return tool.get_formatter()->make_help(&tool, kTool, CLI::AppFormatMode::All);
}

// "--depth: 1 required TEXT missing" and "--overwrite was given a disallowed
// flag override", in our words.
std::string ArgumentMismatch(const std::string& what) {
    std::string name = what.substr(0, what.find_first_of(": "));
    if (name.rfind("-", 0) != 0) name = "--" + name;
    if (what.find("flag override") != std::string::npos) return name + " takes no value";
    if (what.find("missing") != std::string::npos) return name + " needs a value";
    return what;
}

const char* const kRenderNotes = R"(Parameters go by their registered names, --set "NAME=VALUE" (for example
--set "Vignetting Amount=180" --set "X-Process Type=E6C41"), or by the options above
made from them. Pop-up items are chosen by text (any case) or by number from 1. A
parameter whose option name equals one of the tool's options is set with --set.

IN and OUT are images (PNG, TIFF, JPEG, OpenEXR and the other formats OpenImageIO
reads), frame patterns (shot.%04d.png or shot.####.png) or videos (.mp4 .mov .mkv
.webm .avi ...; read and written through ffmpeg, keeping each frame's timestamp, the
rotation, the codec where it can, and every stream the output container holds). A
pattern becomes a video and a video a pattern; --frames takes a part of either.
OUT is written to a temporary file beside it and renamed into place when complete.

A batch: "render FOLDER OUTFOLDER" renders every image and video in FOLDER, and
"render IN... --output-dir OUTFOLDER" the files named, each to OUTFOLDER under its own
name (--format EXT changes the extension of the files of that kind). Outputs that
exist are skipped unless --overwrite; a file that fails is reported and the rest go on.
)";

const char* const kToolNotes = R"(Exit status: 0 done, 1 failed (nothing half-written is left; in a batch, a file
failed), 2 bad command line or parameter value, 130 interrupted (Ctrl-C), 128+N ended
by signal N (129 SIGHUP, 131 SIGQUIT, 143 SIGTERM); nothing unfinished is left.

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

// The options of render, which farm passes on to every task.
void RenderOptions(CLI::App& render, Options& o) {
    ModuleOption(render, o);
    SetOption(render, o);
    LookOption(render, o);
    Value(render, "--save-look", "FILE", "write the settings used to a look file", "a file name",
          [&o](const std::string& v) {
              o.save_look = v;
              return !v.empty();
          });
    Value(render, "--compare", "split|side",
          "write input and output side by side, or split down the middle with a thin line", "split or side",
          [&o](const std::string& v) {
              o.compare = v;
              return v == "split" || v == "side";
          });
    Number(render, "--depth", "8|16", "render depth (default: 8 for 8-bit inputs, 16 for deeper or float ones)",
           o.depth, IntegerOf({8, 16}, "8 or 16"));
    ThreadsOption(render, o);
    Value(render, "--scale", "A/B",
          "the input is a frame of a layer rendered at scale A/B (e.g. 1/2)",
          "a fraction A/B with 0 < A <= B (for example 1/2)",
          [&o](const std::string& v) { return ParseRatio(v, o.scale); });
    Value(render, "--frames", "A-B", "frames of a frame pattern, or of a video counted from 1 (default: all)",
          "FIRST-LAST (for example 1-48) or one frame number", [&o](const std::string& v) {
              FrameRange range;
              if (!ParseFrameRange(v, range)) return false;
              o.frames = range;
              return true;
          });
    Value(render, "--codec", "NAME",
          "video encoder for video output (default: the source's codec where the container takes it, else the "
          "container's usual one)",
          "an FFmpeg encoder name", [&o](const std::string& v) {
              if (v.empty() || v.find_first_of(" \t\n") != std::string::npos) return false;
              o.codec = v;
              return true;
          });
    Number(render, "--crf", "N", "quality for encoders that take a constant rate factor", o.crf, IntegerIn(0, 63));
    const auto word = [](const std::string& v) {
        return !v.empty() && v.find_first_of(" \t\n=") == std::string::npos;
    };
    Value(render, "--preset", "NAME", "encoder speed preset for video output (x264: ultrafast .. veryslow)",
          "an encoder preset name", [&o, word](const std::string& v) {
              o.preset = v;
              return word(v);
          });
    Value(render, "--pix-fmt", "NAME",
          "pixel format of video output (default: the source's where the encoder takes it)",
          "an FFmpeg pixel format name like yuv420p", [&o, word](const std::string& v) {
              o.pix_fmt = v;
              return word(v);
          });
    Value(render, "--audio", "copy|encode|none",
          "audio of video output: copied where the container takes it (default), re-encoded, or left out",
          "copy, encode or none", [&o](const std::string& v) {
              o.audio = Lower(v);
              return o.audio == "copy" || o.audio == "encode" || o.audio == "none";
          });
    Flag(render, "--accept-damaged", o.accept_damaged,
         "render what a damaged video holds, noting the frames lost (default: refuse it)");
    Value(render, "--rate", "FPS", "frames per second of a frame pattern rendered to a video (default 24)",
          "a rate like 24, 25, 29.97 or 30000/1001", [&o](const std::string& v) {
              const auto slash = v.find('/');
              long long num = 0, den = 1;
              double value = 0;
              if (slash != std::string::npos) {
                  if (!ParseInt(v.substr(0, slash), num) || !ParseInt(v.substr(slash + 1), den) || den <= 0) {
                      return false;
                  }
                  value = double(num) / double(den);
              } else {
                  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
                  if (ec != std::errc() || end != v.data() + v.size()) return false;
              }
              if (!(value > 0 && value <= 1000)) return false;
              o.rate = v;
              return true;
          });
    Number(render, "--quality", "N", "quality of lossy image output (JPEG, WebP), 1 to 100", o.quality,
           IntegerIn(1, 100));
    // NAME, N or NAME:N: a compression name (TIFF, OpenEXR, PNG) and a
    // deflate level (PNG, deflate TIFF).
    Value(render, "--compression", "NAME[:N]|N",
          "compression of image output by name (TIFF: none, lzw, deflate, packbits; OpenEXR: zip, piz, dwaa, ...; "
          "PNG: zip), and/or a deflate level of PNG and deflate TIFF outputs, 0 (none) to 9 (smallest, slowest); "
          "default level 1: files no larger than FFmpeg's at a fraction of its time",
          "a compression name, a level from 0 to 9, or NAME:LEVEL", [&o, word](const std::string& v) {
              const std::string lower = Lower(v);
              const auto colon = lower.rfind(':');
              std::string name = lower, level;
              if (colon != std::string::npos) {
                  name = lower.substr(0, colon);
                  level = lower.substr(colon + 1);
                  if (name.empty()) return false;
              } else if (!lower.empty() && lower.find_first_not_of("0123456789") == std::string::npos) {
                  name.clear();
                  level = lower;
              }
              long long n = -1;
              if (colon != std::string::npos || !level.empty()) {
                  if (!ParseInt(level, n) || n < 0 || n > 9) return false;
              }
              if (!name.empty() && (!word(name) || !std::isalpha(static_cast<unsigned char>(name[0])))) return false;
              o.compression = name;
              o.compression_level = int(n);
              return true;
          });
    Flag(render, "--overwrite", o.overwrite, "replace an existing output file");
    Flag(render, "--quiet", o.quiet, "no progress bar (shown only when standard error is a terminal)");
}

const char* const kFarmNotes = R"(Every render option is taken and passed on to the tasks. Each task runs this
velvetshade (the same build at the same path on every node) on its frames; chunks,
records and logs go to the work folder, which every node must see. A frame pattern
output is written frame by frame to its final names; a video's chunks are joined
without re-encoding, with the other streams taken once from IN, and renamed into
place. Run again with the same arguments after a failure or a cancel: only the
chunks not done are submitted. Needs sbatch, squeue and scancel (Debian package
slurm-client).

Exit status: 0 submitted (with --wait: OUT complete), 1 failed (a chunk, named with
its log), 2 bad command line or no Slurm, 130 interrupted.
)";

}  // namespace

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

std::filesystem::path ModuleArgument(int argc, const char* const* argv) {
    CLI::App app;
    app.set_help_flag();
    app.allow_extras();
    std::string module;
    app.add_option("--module", module)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        return {};
    }
    return module;
}

bool ParseArgs(int argc, const char* const* argv, const std::vector<ParamInfo>& params, Options& o,
               std::string& error) {
    CLI::App tool("Renders images, image sequences and videos through the effect module.", kTool);
    tool.allow_extras()->require_subcommand(0, 1)->footer(kToolNotes);
    tool.set_help_flag("-h,--help", "show this help and exit");
    tool.get_formatter()->column_width(26);
    tool.add_flag_callback("--version", [&o] { o.command = Command::Version; }, "show the version");
    ModuleOption(tool, o);

    CLI::App* render = AddCommand(tool, o, Command::Render, "render",
                                  "render IN to OUT (an image, a frame pattern or a video), every image and "
                                  "video of a FOLDER into OUTFOLDER, or the built-in test chart with --chart OUT");
    std::vector<std::string> files;
    render->add_option("FILES", files, "IN OUT, FOLDER OUTFOLDER, IN... with --output-dir, or OUT with --chart")->type_name("");
    render->footer(std::string(kRenderNotes) + "\n" + kToolNotes);
    RenderOptions(*render, o);
    Value(*render, "--output-dir", "DIR", "render every input file into DIR, keeping its name", "a folder name",
          [&o](const std::string& v) {
              o.output_dir = v;
              return !v.empty();
          });
    const auto word = [](const std::string& v) {
        return !v.empty() && v.find_first_of(" \t\n=") == std::string::npos;
    };
    Value(*render, "--format", "EXT",
          "with a folder or --output-dir: the outputs' extension (png, tif, mkv, ...), for the inputs of its kind "
          "(images or videos)",
          "an extension like png or mkv", [&o, word](const std::string& v) {
              std::string ext = v.starts_with(".") ? v.substr(1) : v;
              o.format = Lower(ext);
              return word(ext) && ext.find_first_of("/.%#") == std::string::npos;
          });
    Flag(*render, "--chart", o.chart, "render the built-in test chart instead of an input");
    Value(*render, "--size", "WxH", "size of the built-in chart (default 1024x640)",
          "WIDTHxHEIGHT, each 16 to 16384",
          [&o](const std::string& v) { return ParseSize(v, o.chart_width, o.chart_height); });
    render->add_flag("--video-chunk", o.video_chunk)->disable_flag_override()->group("");
    const std::vector<std::string> param_options = AddParamOptions(*render, tool, params, o);

    CLI::App* farm = AddCommand(tool, o, Command::Farm, "farm",
                                "render IN to OUT on a Slurm cluster: chunks of frames as a job array, "
                                "joined into what render writes");
    std::vector<std::string> farm_files;
    farm->add_option("FILES", farm_files, "IN OUT (OUT alone with --status or --cancel)")->type_name("");
    farm->footer(kFarmNotes);
    RenderOptions(*farm, o);
    Number(*farm, "--chunk-frames", "N", "frames a task renders (default: enough chunks for the partition's CPUs)",
           o.farm.chunk_frames, IntegerIn(1, 999999999, "a number of frames"));
    Value(*farm, "--partition", "NAME", "the Slurm partition (default: the cluster's default one)", "a partition name",
          [&o](const std::string& v) {
              o.farm.partition = v;
              return !v.empty() && v.find_first_of(" \t\n") == std::string::npos;
          });
    farm->add_option_function<std::string>(
            "--sbatch", [&o](const std::string& v) { o.farm.sbatch.push_back(v); },
            "an argument for sbatch, as it is (repeatable: --sbatch=--time=2:00:00 --sbatch=--mem=8G)")
        ->type_name("ARG")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse();
    Value(*farm, "--work-dir", "DIR", "chunks, records and logs, on a folder every node sees (default OUT.farm)",
          "a folder name", [&o](const std::string& v) {
              o.farm.work_dir = v;
              return !v.empty();
          });
    Flag(*farm, "--wait", o.farm.wait, "follow the jobs until OUT is complete or a chunk fails");
    Flag(*farm, "--status", o.farm.status, "say which chunks of OUT are done, running and failed");
    Flag(*farm, "--cancel", o.farm.cancel, "cancel OUT's jobs and remove what they left");
    farm->add_flag("--join", o.farm.join)->disable_flag_override()->group("");
    const std::vector<std::string> farm_param_options = AddParamOptions(*farm, tool, params, o);

    CLI::App* looks = AddCommand(tool, o, Command::Looks, "looks", "list the named looks and their settings");
    ModuleOption(*looks, o);
    Flag(*looks, "--json", o.json, "as JSON: name, file, description and settings of each");

    CLI::App* sheet = AddCommand(tool, o, Command::Sheet, "sheet",
                                 "a contact sheet: IN under every X-Process Type and Lens Type, or the steps "
                                 "of --vary, in a labelled grid");
    std::vector<std::string> sheet_files;
    sheet->add_option("FILES", sheet_files, "IN OUT")->type_name("");
    ModuleOption(*sheet, o);
    SetOption(*sheet, o);
    LookOption(*sheet, o);
    Value(*sheet, "--vary", "NAME=FROM:TO:STEPS",
          "step one parameter (or NAME=A,B,C); a second --vary makes a grid", "\"NAME=FROM:TO:STEPS\"",
          [&o](const std::string& v) {
              if (v.find('=') == std::string::npos) return false;
              o.vary.push_back(v);
              return true;
          });
    Number(*sheet, "--frame", "N", "the frame of a video or frame pattern (default 0)", o.frame,
           IntegerIn(0, 999999999, "a frame number"));
    Number(*sheet, "--cell-width", "N", "width of a cell in pixels (default 320)", o.cell_width, IntegerIn(16, 4096));
    Number(*sheet, "--depth", "8|16", "render depth (default: as the input)", o.depth, IntegerOf({8, 16}, "8 or 16"));
    ThreadsOption(*sheet, o);
    Flag(*sheet, "--overwrite", o.overwrite, "replace an existing output file");
    AddParamOptions(*sheet, tool, params, o);

    CLI::App* lut = AddCommand(tool, o, Command::Lut, "lut",
                               "write the look as a .cube 3D LUT for other grading tools (without the "
                               "vignette and the dodge, which depend on the position)");
    std::vector<std::string> lut_files;
    lut->add_option("FILES", lut_files, "OUT.cube")->type_name("");
    ModuleOption(*lut, o);
    SetOption(*lut, o);
    LookOption(*lut, o);
    Number(*lut, "--size", "17|33|65", "lattice points along each axis (default 33)", o.lut_size,
           IntegerOf({17, 33, 65}, "17, 33 or 65"));
    ThreadsOption(*lut, o);
    Flag(*lut, "--overwrite", o.overwrite, "replace an existing output file");
    AddParamOptions(*lut, tool, params, o);

    CLI::App* params_command = AddCommand(tool, o, Command::Params, "params",
                                          "list the effect's parameters: names, ranges, defaults, items");
    ModuleOption(*params_command, o);
    Flag(*params_command, "--json", o.json, "as JSON");
    CLI::App* about = AddCommand(tool, o, Command::About, "about", "show the effect's About text");
    ModuleOption(*about, o);
    Flag(*about, "--json", o.json, "as JSON, with the module's file and the tool's version");
    CLI::App* help = AddCommand(tool, o, Command::Help, "help", "show this help, or one command's");
    std::string help_topic;
    help->add_option("COMMAND", help_topic, "the command to explain")->type_name("");

    try {
        tool.parse(argc, argv);
        const std::vector<CLI::App*> chosen = tool.get_subcommands();
        CheckExtras(tool, chosen.empty() ? nullptr : chosen.front(),
                    !chosen.empty() && chosen.front() == farm ? farm_param_options : param_options);
    } catch (const CLI::CallForHelp&) {
        const std::vector<CLI::App*> chosen = tool.get_subcommands();
        o.command = Command::Help;
        o.help = HelpText(tool, chosen.empty() || chosen.front() == help ? nullptr : chosen.front());
        return true;
    } catch (const UsageError& e) {
        error = e.what();
        return false;
    } catch (const CLI::ValidationError& e) {
        // "--crf: takes a number from 0 to 63, got ..." from a Number option.
        const std::string what = e.what();
        const auto colon = what.find(": ");
        error = colon == std::string::npos ? what : what.substr(0, colon) + " " + what.substr(colon + 2);
        return false;
    } catch (const CLI::ArgumentMismatch& e) {
        error = ArgumentMismatch(e.what());
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }

    if (o.command == Command::Version) return true;
    if (tool.get_subcommands().empty()) {
        error = std::string("no command given; try ") + kTool + " --help";
        return false;
    }
    switch (o.command) {
    case Command::Help: {
        const CLI::App* topic = nullptr;
        if (!help_topic.empty()) {
            const auto names = CommandNames(tool);
            if (std::find(names.begin(), names.end(), help_topic) == names.end()) {
                error = "unknown command \"" + help_topic + "\"; the commands are " + Join(names);
                return false;
            }
            topic = tool.get_subcommand(help_topic);
        }
        o.help = HelpText(tool, topic);
        return true;
    }
    case Command::Sheet:
        if (sheet_files.size() != 2 || sheet_files[0].empty() || sheet_files[1].empty()) {
            error = "sheet takes an input and an output file name";
            return false;
        }
        o.input = sheet_files[0];
        o.output = sheet_files[1];
        return true;
    case Command::Lut:
        if (lut_files.size() != 1 || lut_files[0].empty()) {
            error = "lut takes one file name, the .cube to write";
            return false;
        }
        o.output = lut_files[0];
        return true;
    case Command::Farm: {
        const bool manage = o.farm.status || o.farm.cancel;
        if (o.farm.status && o.farm.cancel) {
            error = "farm --status and --cancel go one at a time";
            return false;
        }
        if (manage ? farm_files.size() != 1 : farm_files.size() != 2) {
            error = manage ? "farm --status and --cancel take one file name, the output"
                           : "farm takes an input and an output file name";
            return false;
        }
        if (!o.save_look.empty()) {
            error = "--save-look applies to render on this machine, not to farm";
            return false;
        }
        o.input = manage ? std::string() : farm_files[0];
        o.output = farm_files.back();
        if (o.output.empty() || (!manage && o.input.empty())) {
            error = "file names must not be empty";
            return false;
        }
        return true;
    }
    case Command::Render:
        if (!o.output_dir.empty() || (!o.chart && files.size() == 2 && std::filesystem::is_directory(files[0]))) {
            // A batch: inputs and --output-dir, or a folder and an output folder.
            if (o.chart) {
                error = "render --chart writes one file; it takes no --output-dir";
                return false;
            }
            if (o.output_dir.empty()) {
                o.output_dir = files[1];
                files.pop_back();
            }
            if (files.empty()) {
                error = "render --output-dir takes the input files (or folders) to render";
                return false;
            }
            for (const auto& f : files) {
                if (f.empty()) {
                    error = "file names must not be empty";
                    return false;
                }
                o.inputs.emplace_back(f);
            }
            if (o.frames) {
                error = "--frames applies to one input, not to a batch";
                return false;
            }
            o.batch = true;
            return true;
        }
        if (!o.format.empty()) {
            error = "--format applies to a batch (a folder and an output folder, or inputs and --output-dir); "
                    "otherwise the output's name says its format";
            return false;
        }
        if (o.chart) {
            if (files.size() != 1) {
                error = "render --chart takes one file name, the output";
                return false;
            }
            o.output = files[0];
        } else {
            if (files.size() != 2) {
                error = "render takes an input and an output file name (or --chart and an output, or inputs and "
                        "--output-dir DIR)";
                return false;
            }
            o.input = files[0];
            o.output = files[1];
        }
        if (o.output.empty() || (!o.chart && o.input.empty())) {
            error = "file names must not be empty";
            return false;
        }
        return true;
    default:
        return true;
    }
}

}  // namespace velvetshade

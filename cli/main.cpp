// velvetshade: renders images, image sequences and videos through the effect
// module, driven through our host library. Loads the module, parses the
// command line and hands the run to its command (cli/commands/).
#include <csignal>
#include <iostream>
#include <memory>
#include <new>

#include "cli/commands/args.h"
#include "cli/commands/batch.h"
#include "cli/commands/farm.h"
#include "cli/commands/looks.h"
#include "cli/commands/lut.h"
#include "cli/commands/params.h"
#include "cli/commands/render.h"
#include "cli/commands/report.h"
#include "cli/commands/sheet.h"
#include "cli/effect/effect_renderer.h"
#include "cli/system/input_file.h"
#include "cli/system/interrupt.h"

namespace fs = std::filesystem;
using namespace velvetshade;

namespace {

// The module a run names, refused unless a regular file (a FIFO would block
// the loader for good); a missing one gets the loader's own advice.
std::unique_ptr<EffectRenderer> LoadEffect(const fs::path& path, std::string& error) {
    std::error_code ec;
    if (fs::exists(path, ec) && !CheckInputFile(path, error)) return nullptr;
    return EffectRenderer::Open(path, error);
}

// effect: the loaded module, null when it did not load (load_error says why).
int Run(const Options& o, EffectRenderer* effect, const std::string& load_error) {
    switch (o.command) {
    case Command::Help:
        std::cout << o.help;
        if (!effect) std::cout << "\nThe effect's parameter options are not listed: " << load_error << "\n";
        return 0;
    case Command::Version:
        std::cout << "velvetshade " VELVETSHADE_VERSION "\n";
        return 0;
    case Command::Params:
    case Command::About:
    case Command::Render:
    case Command::Looks:
    case Command::Sheet:
    case Command::Lut:
    case Command::Farm:
        break;
    }
    if (o.command == Command::Farm && (o.farm.status || o.farm.cancel)) return ManageFarm(o);
    if (!effect) return Fail(load_error);
    if (o.command == Command::Params) return ShowParams(o, *effect);
    if (o.command == Command::About) {
        // About is the module's own text: the one installed beside the tool
        // speaks for the look built in.
        if (!effect->built_in()) return ShowAbout(o, *effect);
        std::string error;
        const auto module = LoadEffect(DefaultModulePath(), error);
        return module ? ShowAbout(o, *module) : Fail(error);
    }
    if (o.command == Command::Looks) return ListLooks(*effect, o.json);
    std::vector<ParamSetting> settings;
    if (std::string error; !ResolveSettings(o, *effect, settings, error)) return Fail(error, kUsage);
    if (o.command == Command::Lut) return WriteLut(o, *effect, settings);
    if (o.command == Command::Sheet) return WriteSheet(o, *effect, settings);
    if (o.command == Command::Farm) return RunFarm(o, *effect, settings);
    return RunRender(o, *effect, settings, o.batch ? RenderBody(RenderBatch) : RenderBody(RenderFile));
}

}  // namespace

int main(int argc, char** argv) {
    // A broken pipe to ffmpeg is an error to report, not a reason to die
    // with a temporary file left behind.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file-size limit: the write fails with EFBIG and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    InstallInterruptHandling();
    try {
        // The module comes first: its parameters are options of the command line.
        // The look built in, unless a module file is named.
        const fs::path module = ModuleArgument(argc, argv);
        std::string load_error;
        const auto effect = module.empty() ? EffectRenderer::OpenBuiltIn() : LoadEffect(module, load_error);
        const std::vector<ParamInfo> no_params;
        Options options;
        std::string error;
        if (!ParseArgs(argc, argv, effect ? effect->params() : no_params, options, error)) {
            // Without the module its parameters are unknown options; the
            // module is the problem to report.
            if (!effect && (options.command == Command::Render || options.command == Command::Sheet ||
                            options.command == Command::Lut || options.command == Command::Farm)) {
                return Fail(load_error);
            }
            return Fail(error, kUsage);
        }
        const int code = Run(options, effect.get(), load_error);
        AwaitInterruptExit();
        if (std::string why; code == 0 && !FinishStandardOutput(why)) return Fail(why);
        return code;
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    } catch (const std::exception& e) {
        return Fail(std::string("internal error: ") + e.what());
    }
}

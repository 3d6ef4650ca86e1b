#include "cli/commands/farm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "cli/commands/report.h"
#include "cli/images/sequence.h"
#include "cli/system/output_file.h"
#include "cli/system/process.h"
#include "cli/system/text.h"
#include "cli/system/text_file.h"
#include "cli/video/join.h"
#include "cli/video/video.h"
#include "host/platform_library.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// A chunk shorter than this spends more on starting (the tool, ffmpeg, the
// module) than on frames.
constexpr int kMinChunkFrames = 24;

struct Chunk {
    int index = 0;
    int first = 0;  // frame numbers, both included
    int last = 0;
    std::string Range() const { return std::to_string(first) + "-" + std::to_string(last); }
};

// What a farm render is, recomputed from the same command line by the
// submission and by the join.
struct Plan {
    fs::path input, output, work;
    std::optional<FramePattern> in_pattern, out_pattern;
    bool video_out = false;
    std::vector<int> frames;  // numbers of a pattern, or of a video's frames from 1
    int chunk_frames = 0;
    std::vector<Chunk> chunks;
    std::string settings;  // the task's command line but for its frames: its record
    std::vector<std::string> task;  // velvetshade render IN DEST and its options, DEST a shell word
};

// A word the shell reads back as it is.
std::string ShellQuote(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "_-+=/.,:%@") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

fs::path Absolute(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal();
}

fs::path WorkDir(const Options& o) {
    return o.farm.work_dir.empty() ? fs::path(Absolute(o.output).string() + ".farm") : Absolute(o.farm.work_dir);
}

fs::path ChunkPath(const Plan& plan, int index, const std::string& what) {
    return plan.work / ("chunk-" + std::to_string(index) + what);
}

// Every render option given, for the tasks: the settings and the look in the
// order they came, so that each still overrides the ones before it.
std::vector<std::string> RenderOptionArguments(const Options& o) {
    std::vector<std::string> args;
    if (!o.module.empty()) args.insert(args.end(), {"--module", Absolute(o.module).string()});
    for (std::size_t i = 0; i <= o.settings.size(); ++i) {
        if (i == o.look_at && !o.look.empty()) args.insert(args.end(), {"--look", o.look});
        if (i < o.settings.size()) args.insert(args.end(), {"--set", o.settings[i].name + "=" + o.settings[i].value});
    }
    if (o.depth) args.insert(args.end(), {"--depth", std::to_string(o.depth)});
    if (o.threads) args.insert(args.end(), {"--threads", std::to_string(o.threads)});
    if (o.scale.num != 1 || o.scale.den != 1) {
        args.insert(args.end(), {"--scale", std::to_string(o.scale.num) + "/" + std::to_string(o.scale.den)});
    }
    if (!o.compare.empty()) args.insert(args.end(), {"--compare", o.compare});
    if (!o.codec.empty()) args.insert(args.end(), {"--codec", o.codec});
    if (o.crf >= 0) args.insert(args.end(), {"--crf", std::to_string(o.crf)});
    if (!o.preset.empty()) args.insert(args.end(), {"--preset", o.preset});
    if (!o.pix_fmt.empty()) args.insert(args.end(), {"--pix-fmt", o.pix_fmt});
    if (!o.audio.empty()) args.insert(args.end(), {"--audio", o.audio});
    if (o.accept_damaged) args.push_back("--accept-damaged");
    if (!o.rate.empty()) args.insert(args.end(), {"--rate", o.rate});
    if (o.quality > 0) args.insert(args.end(), {"--quality", std::to_string(o.quality)});
    if (!o.compression.empty() || o.compression_level >= 0) {
        std::string value = o.compression;
        if (o.compression_level >= 0) value += (value.empty() ? "" : ":") + std::to_string(o.compression_level);
        args.insert(args.end(), {"--compression", value});
    }
    return args;
}

// The partition's CPUs, for the default chunk size; 0 when sinfo cannot say.
long long PartitionCpus(const std::string& partition) {
    std::vector<std::string> argv = {"sinfo", "-h", "-o", "%C"};
    if (!partition.empty()) argv.insert(argv.end(), {"-p", partition});
    std::string out, error;
    if (!RunForOutput(argv, out, error)) return 0;
    long long total = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        // allocated/idle/other/total
        const auto slash = line.rfind('/');
        long long n = 0;
        if (slash != std::string::npos && ParseInt(Trim(line.substr(slash + 1)), n)) total += n;
    }
    return total;
}

bool MakePlan(const Options& o, Plan& plan, std::string& error) {
    plan.input = Absolute(o.input);
    plan.output = Absolute(o.output);
    plan.work = WorkDir(o);
    plan.in_pattern = ParseFramePattern(plan.input);
    plan.out_pattern = ParseFramePattern(plan.output);
    plan.video_out = !plan.out_pattern && IsVideoPath(plan.output);
    if (!plan.out_pattern && !plan.video_out) {
        error = "farm writes a frame pattern (like out.%04d.png) or a video; " + o.output.string() + " is neither";
        return false;
    }
    if (plan.in_pattern) {
        if (std::string note; !o.frames && ResolvePadding(*plan.in_pattern, note)) Note(note);
        if (!ListFrames(*plan.in_pattern, o.frames, plan.frames, error)) return false;
    } else if (IsVideoPath(plan.input)) {
        VideoInfo info;
        std::vector<double> times;
        double end = 0;
        if (!ProbeVideo(plan.input, info, error) || !ProbeFrameTimes(plan.input, info, times, end, error)) return false;
        const int count = int(times.size());
        const int first = o.frames ? o.frames->first : 1;
        const int last = o.frames ? o.frames->last : count;
        if (first < 1 || last > count || count == 0) {
            error = "--frames " + std::to_string(first) + "-" + std::to_string(last) + ": " + o.input.string() +
                    " has frames 1 to " + std::to_string(count);
            return false;
        }
        for (int f = first; f <= last; ++f) plan.frames.push_back(f);
    } else {
        error = "farm renders a frame pattern (like in.%04d.png) or a video; " + o.input.string() + " is neither";
        return false;
    }
    const long long count = (long long)plan.frames.size();
    plan.chunk_frames = o.farm.chunk_frames;
    if (plan.chunk_frames == 0) {
        const long long cpus = std::max(1LL, PartitionCpus(o.farm.partition));
        plan.chunk_frames = int(std::max<long long>(kMinChunkFrames, (count + cpus - 1) / cpus));
    }
    for (long long at = 0; at < count; at += plan.chunk_frames) {
        const long long to = std::min(count, at + plan.chunk_frames) - 1;
        plan.chunks.push_back({int(plan.chunks.size()), plan.frames[std::size_t(at)], plan.frames[std::size_t(to)]});
    }

    const std::string exe = Absolute(vshost::platform::ExecutablePath()).string();
    const std::string dest = plan.video_out ? ShellQuote(plan.work.string()) + "/\"$name\"" +
                                                  ShellQuote(plan.output.extension().string())
                                            : ShellQuote(plan.output.string());
    plan.task = {ShellQuote(exe), "render", ShellQuote(plan.input.string()), dest};
    for (const auto& a : RenderOptionArguments(o)) plan.task.push_back(ShellQuote(a));
    plan.task.insert(plan.task.end(), {"--overwrite", "--quiet"});
    if (plan.video_out) plan.task.push_back("--video-chunk");
    for (const auto& word : plan.task) plan.settings += (plan.settings.empty() ? "" : " ") + word;
    return true;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ChunkRecord(const Plan& plan, const Chunk& chunk) {
    return plan.settings + "\nframes " + chunk.Range() + "\n";
}

// Done: every frame in place and the record of the settings it was made with
// the one asked for now.
bool ChunkDone(const Plan& plan, const Chunk& chunk) {
    std::error_code ec;
    if (ReadText(ChunkPath(plan, chunk.index, ".done")) != ChunkRecord(plan, chunk)) return false;
    if (plan.video_out) {
        return fs::is_regular_file(ChunkPath(plan, chunk.index, plan.output.extension().string()), ec);
    }
    for (const int f : plan.frames) {
        if (f >= chunk.first && f <= chunk.last && !fs::is_regular_file(FramePath(*plan.out_pattern, f), ec)) {
            return false;
        }
    }
    return true;
}

std::string JoinRecord(const Plan& plan) {
    std::string record = plan.settings + "\nchunks";
    for (const Chunk& c : plan.chunks) record += " " + c.Range();
    return record + "\n";
}

bool Joined(const Plan& plan) {
    std::error_code ec;
    return ReadText(plan.work / "joined.txt") == JoinRecord(plan) &&
           (plan.out_pattern || fs::is_regular_file(plan.output, ec));
}

// "0-5,7,9-12" for sbatch --array.
std::string ArrayList(const std::vector<int>& indices) {
    std::string list;
    for (std::size_t i = 0; i < indices.size();) {
        std::size_t j = i;
        while (j + 1 < indices.size() && indices[j + 1] == indices[j] + 1) ++j;
        list += (list.empty() ? "" : ",") + std::to_string(indices[i]) +
                (j > i ? "-" + std::to_string(indices[j]) : std::string());
        i = j + 1;
    }
    return list;
}

// What the work folder keeps for --status and --cancel, which see OUT only.
struct State {
    std::string array, join;  // job ids
    bool video_out = false;
    fs::path output;
    std::vector<Chunk> chunks;
};

bool SaveState(const Plan& plan, const State& state, std::string& error) {
    std::string text = "output " + plan.output.string() + "\nkind " + (plan.video_out ? "video" : "pattern") +
                       "\narray " + state.array + "\njoin " + state.join + "\n";
    for (const Chunk& c : plan.chunks) {
        text += "chunk " + std::to_string(c.index) + " " + std::to_string(c.first) + " " + std::to_string(c.last) + "\n";
    }
    return WriteTextFile(plan.work / "state.txt", text, true, error);
}

bool LoadState(const fs::path& work, State& state) {
    std::ifstream in(work / "state.txt");
    if (!in) return false;
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "output") state.output = value;
        if (key == "kind") state.video_out = value == "video";
        if (key == "array") state.array = value;
        if (key == "join") state.join = value;
        if (key == "chunk") {
            Chunk c;
            std::istringstream(value) >> c.index >> c.first >> c.last;
            state.chunks.push_back(c);
        }
    }
    return true;
}

// Jobs in the queue: array task index (or -1 for a plain job) to its state,
// by job id; false when squeue cannot answer.
using Queue = std::map<std::string, std::map<int, std::string>>;
bool ReadQueue(Queue& queue, std::string& error) {
    std::string out;
    if (!RunForOutput({"squeue", "-h", "-r", "-o", "%F %K %T %r"}, out, error)) return false;
    queue.clear();
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string job, task, state, reason;
        if (!(words >> job >> task >> state)) continue;
        if (words >> reason) state += " " + reason;
        long long k = -1;
        if (!ParseInt(task, k)) k = -1;
        queue[job][int(k)] = state;
    }
    return true;
}

bool Queued(const Queue& queue, const std::string& job, int task = -1) {
    const auto j = queue.find(job);
    if (j == queue.end() || job.empty()) return false;
    return task < 0 || j->second.count(task) > 0;
}

bool Cancel(const std::string& job) {
    if (job.empty()) return true;
    std::string out, error;
    return RunForOutput({"scancel", job}, out, error);
}

bool WriteScript(const fs::path& path, const std::string& text, std::string& error) {
    if (!WriteTextFile(path, text, true, error)) return false;
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    return true;
}

bool Submit(const std::vector<std::string>& args, std::string& job, std::string& error) {
    std::string out;
    if (!RunForOutput(args, out, error)) return false;
    // --parsable: "ID" or "ID;CLUSTER"
    job = Trim(out.substr(0, out.find(';')));
    if (job.empty()) {
        error = "sbatch gave no job id";
        return false;
    }
    return true;
}

// sbatch reads % in file names as its own patterns ("%a" the task index).
std::string SbatchFileName(const fs::path& path) {
    std::string name;
    for (const char c : path.string()) name += c == '%' ? std::string("%%") : std::string(1, c);
    return name;
}

std::string LogPath(const Plan& plan, int chunk) {
    return (plan.work / "logs" / ("chunk-" + std::to_string(chunk) + ".log")).string();
}

// The chunks whose tasks ended without their record; the join's end.
// Whether the join waits on a task that ended otherwise than well: one
// cancelled after it had written its chunk, say.
bool JoinStuck(const Queue& queue, const State& state) {
    const auto j = queue.find(state.join);
    return j != queue.end() && !j->second.empty() &&
           j->second.begin()->second.find("DependencyNeverSatisfied") != std::string::npos;
}

int Follow(const Plan& plan, State& state, const std::vector<int>& submitted, bool quiet,
           const std::function<bool(State&, std::string&)>& resubmit_join) {
    const bool terminal = ::isatty(2) && !quiet;
    std::size_t shown = std::size_t(-1);
    std::vector<int> failed;
    bool join_cancelled = false;
    for (;;) {
        Queue queue;
        std::string error;
        if (!ReadQueue(queue, error)) return Fail("cannot follow the jobs: " + error);
        if (Joined(plan)) break;
        std::size_t done = 0;
        bool running = false;
        for (const Chunk& c : plan.chunks) {
            const bool mine = std::find(submitted.begin(), submitted.end(), c.index) != submitted.end();
            const bool queued = mine && Queued(queue, state.array, c.index);
            running = running || queued;
            if (ChunkDone(plan, c)) {
                ++done;
            } else if (mine && !queued && std::find(failed.begin(), failed.end(), c.index) == failed.end()) {
                failed.push_back(c.index);
            }
        }
        if (done != shown && !quiet) {
            std::cerr << (terminal ? "\r" : "") << "velvetshade: farm: " << done << " of " << plan.chunks.size()
                      << " chunks done" << (terminal ? "" : "\n") << std::flush;
            shown = done;
        }
        if (!failed.empty() && !join_cancelled) {
            // The join waits on every task and would wait for ever.
            Cancel(state.join);
            join_cancelled = true;
        }
        if (!failed.empty() && !running) break;
        if (failed.empty() && !running && done == plan.chunks.size() && JoinStuck(queue, state)) {
            // Every chunk is there: a join of its own, without the dependency.
            Cancel(state.join);
            if (!resubmit_join(state, error)) return Fail("cannot submit the join: " + error);
            continue;
        }
        if (failed.empty() && !Queued(queue, state.join)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    if (terminal) std::cerr << "\n";
    if (Joined(plan)) {
        std::cerr << "velvetshade: farm: " << plan.output.string() << " is complete\n";
        return 0;
    }
    if (!failed.empty()) {
        std::sort(failed.begin(), failed.end());
        std::string message;
        for (const int k : failed) {
            const Chunk& c = plan.chunks[std::size_t(k)];
            message += (message.empty() ? "" : "; ") + std::string("chunk ") + std::to_string(k) + " (frames " +
                       c.Range() + ") failed, its log: " + LogPath(plan, k);
        }
        return Fail(message + "; " + plan.output.string() + " is not written; run again to render what is missing");
    }
    return Fail("the join failed, its log: " + (plan.work / "logs" / "join.log").string() + "; " +
                plan.output.string() + " is not written");
}

// The join job: every chunk done, a video's chunks concatenated into OUT.
int Join(const Options& o, const Plan& plan) {
    for (const Chunk& c : plan.chunks) {
        if (!ChunkDone(plan, c)) {
            return Fail("chunk " + std::to_string(c.index) + " (frames " + c.Range() + ") is not done");
        }
    }
    std::string error;
    if (plan.video_out) {
        VideoInfo info;
        EncodeSettings settings;
        settings.codec = o.codec;
        settings.encode_audio = o.audio == "encode";
        settings.drop_audio = o.audio == "none";
        std::vector<VideoChunk> chunks;
        double offset = 0;
        fs::path source;
        if (plan.in_pattern) {
            info.rate = o.rate.empty() ? "24" : o.rate;
            int num = 0, den = 0;
            if (!RateAsTimeBase(info.rate, num, den)) return Fail("--rate " + info.rate + " is not a usable rate", kUsage);
            for (std::size_t i = 0; i < plan.chunks.size(); ++i) {
                const int next = i + 1 < plan.chunks.size() ? plan.chunks[i + 1].first : plan.chunks[i].last + 1;
                chunks.push_back({ChunkPath(plan, int(i), plan.output.extension().string()),
                                  double(next - plan.chunks[i].first) * num / den});
            }
        } else {
            source = plan.input;
            std::vector<double> times;
            double end = 0;
            if (!ProbeVideo(plan.input, info, error) || !ProbeFrameTimes(plan.input, info, times, end, error)) {
                return Fail(error);
            }
            const double start = info.start_time.empty() ? 0 : std::stod(info.start_time);
            const double shift = start > 0 ? start : 0;
            const auto time = [&](int frame) {  // of frame, counted from 1; after the last: the end
                return std::size_t(frame) <= times.size() ? times[std::size_t(frame - 1)] : end;
            };
            for (const Chunk& c : plan.chunks) {
                chunks.push_back({ChunkPath(plan, c.index, plan.output.extension().string()),
                                  time(c.last + 1) - time(c.first)});
            }
            offset = time(plan.frames.front()) - shift;
            if (o.frames) {
                // As render cuts a part: the other streams to it, and all moved to zero.
                char text[64];
                std::snprintf(text, sizeof text, "%.6f", time(plan.frames.front()) - shift);
                settings.start = text;
                std::snprintf(text, sizeof text, "%.6f", time(plan.frames.back() + 1) - shift);
                settings.end = text;
                info.frames = (long long)plan.frames.size();
            }
        }
        OutputPlan output;
        if (!PlanOutput(info, plan.output, settings, output, error)) return Fail(error);
        PendingFile pending;
        if (!pending.Create(plan.output, error) ||
            !JoinChunks(chunks, plan.work / "chunks.ffconcat", pending.path(), source, info, output, settings, offset,
                        error)) {
            return Fail("cannot join the chunks into " + plan.output.string() + ": " + error);
        }
        if (!pending.Commit(o.overwrite, error)) return Fail(error);
        for (const auto& n : output.notes) Note(n);
    }
    if (!WriteTextFile(plan.work / "joined.txt", JoinRecord(plan), true, error)) return Fail(error);
    if (plan.video_out) {
        std::error_code ec;
        for (const Chunk& c : plan.chunks) fs::remove(ChunkPath(plan, c.index, plan.output.extension().string()), ec);
    }
    std::cerr << "velvetshade: farm: " << plan.output.string() << " is complete\n";
    return 0;
}

}  // namespace

int RunFarm(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings) {
    std::string error;
    if (!o.farm.join) {
        for (const char* tool : {"sbatch", "squeue", "scancel", "scontrol"}) {
            if (!OnPath(tool)) {
                return Fail(std::string(tool) + " is not installed: farm submits through Slurm's commands "
                            "(Debian package slurm-client) to a Slurm cluster",
                            kUsage);
            }
        }
    }
    if (!effect.Configure(settings, o.threads, o.scale, error)) return Fail(error, kUsage);
    Plan plan;
    if (!MakePlan(o, plan, error)) return Fail(error, kUsage);
    if (o.farm.join) return Join(o, plan);

    std::error_code ec;
    State state;
    const bool resumed = LoadState(plan.work, state);
    if (resumed) {
        Queue queue;
        if (!ReadQueue(queue, error)) return Fail("cannot ask Slurm about the jobs: " + error);
        // A join left waiting on a failed task waits for ever: this run replaces it.
        if (!Queued(queue, state.array) && JoinStuck(queue, state)) {
            Cancel(state.join);
            state.join.clear();
        }
        if (Queued(queue, state.array) || Queued(queue, state.join)) {
            return Fail("jobs " + state.array + " and " + state.join + " of " + o.output.string() +
                        " are still queued or running; velvetshade farm --status or --cancel " + o.output.string());
        }
    }
    if (Joined(plan) && !o.overwrite) {
        std::cout << plan.output.string() << " is complete (velvetshade farm --cancel " << o.output.string()
                  << " forgets it)\n";
        return 0;
    }
    if (!o.overwrite) {
        // A first run replaces nothing; a resumed one replaces only its own frames.
        if (plan.video_out && fs::exists(plan.output, ec)) {
            return Fail(plan.output.string() + " exists; add --overwrite to replace it");
        }
        if (plan.out_pattern && !resumed) {
            for (const int f : plan.frames) {
                if (!CheckOutputPath(plan.input, FramePath(*plan.out_pattern, f), false, error)) return Fail(error);
            }
        }
    }
    fs::create_directories(plan.work / "logs", ec);
    if (ec) return Fail("cannot make the work folder " + plan.work.string() + ": " + ec.message());
    fs::remove(plan.work / "joined.txt", ec);
    // Frames written after this mark are the farm's: --cancel removes those
    // only, never frames that were there before (kept by a first run, or
    // about to be replaced under --overwrite). The mark is on the shared
    // folder, so its time and the frames' come from the same file server.
    if (!fs::exists(plan.work / "started", ec) && !WriteTextFile(plan.work / "started", "", true, error)) {
        return Fail(error);
    }

    std::vector<int> todo;
    for (const Chunk& c : plan.chunks) {
        if (!ChunkDone(plan, c)) todo.push_back(c.index);
    }
    std::string ranges;
    for (const Chunk& c : plan.chunks) ranges += " " + c.Range();
    std::string task = "#!/bin/bash\n# A chunk of velvetshade farm " + ShellQuote(o.output.string()) +
                       ", by the array task's index.\nranges=(" + ranges.substr(1) +
                       ")\nk=$SLURM_ARRAY_TASK_ID\nrange=${ranges[$k]}\nname=chunk-$k\n";
    for (const auto& word : plan.task) task += word + " ";
    task += "--frames \"$range\" || exit $?\n";
    // The record comes last: a chunk without it is not done.
    task += "record=" + ShellQuote(plan.work.string()) + "/$name.done\nprintf '%s\\nframes %s\\n' " +
            ShellQuote(plan.settings) + " \"$range\" > \"$record.tmp\" && mv -f \"$record.tmp\" \"$record\"\n";
    std::string join = "#!/bin/bash\n# Joins the chunks of velvetshade farm " + ShellQuote(o.output.string()) +
                       ".\nexec " + ShellQuote(Absolute(vshost::platform::ExecutablePath()).string()) + " farm " +
                       ShellQuote(plan.input.string()) + " " + ShellQuote(plan.output.string());
    for (const auto& a : RenderOptionArguments(o)) join += " " + ShellQuote(a);
    if (o.frames) join += " --frames " + std::to_string(o.frames->first) + "-" + std::to_string(o.frames->last);
    if (o.overwrite) join += " --overwrite";
    join += " --quiet --work-dir " + ShellQuote(plan.work.string()) + " --chunk-frames " +
            std::to_string(plan.chunk_frames) + " --join\n";
    if (!WriteScript(plan.work / "task.sh", task, error) || !WriteScript(plan.work / "join.sh", join, error)) {
        return Fail(error);
    }
    for (const int k : todo) fs::remove(ChunkPath(plan, k, ".done"), ec);

    std::vector<std::string> common = {"sbatch", "--parsable"};
    if (!o.farm.partition.empty()) common.push_back("--partition=" + o.farm.partition);
    common.insert(common.end(), o.farm.sbatch.begin(), o.farm.sbatch.end());
    const std::string name = "--job-name=velvetshade:" + plan.output.filename().string();
    if (!todo.empty()) {
        std::vector<std::string> args = common;
        // Held until the join is queued: a join cannot depend on tasks that
        // already failed.
        args.insert(args.end(), {name, "--hold", "--array=" + ArrayList(todo),
                                 "--output=" + SbatchFileName(plan.work / "logs") + "/chunk-%a.log",
                                 (plan.work / "task.sh").string()});
        if (!Submit(args, state.array, error)) return Fail("cannot submit the chunks: " + error);
    } else {
        state.array.clear();
    }
    const auto submit_join = [&](State& submitted, std::string& why, bool after_array) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {name, "--output=" + SbatchFileName(plan.work / "logs" / "join.log")});
        if (after_array && !submitted.array.empty()) args.push_back("--dependency=afterok:" + submitted.array);
        args.push_back((plan.work / "join.sh").string());
        return Submit(args, submitted.join, why) && SaveState(plan, submitted, why);
    };
    if (!submit_join(state, error, true)) {
        Cancel(state.array);
        return Fail("cannot submit the join: " + error);
    }
    std::string released;
    if (!SaveState(plan, state, error) ||
        (!state.array.empty() && !RunForOutput({"scontrol", "release", state.array}, released, error))) {
        Cancel(state.array);
        Cancel(state.join);
        return Fail(error);
    }
    if (todo.empty()) {
        std::cout << "every chunk is done; the join is job " << state.join << "\n";
    } else {
        std::cout << "submitted " << todo.size() << " of " << plan.chunks.size() << " chunks (" << plan.chunk_frames
                  << " frames each) as job array " << state.array << ", the join as job " << state.join
                  << "\nlogs: " << (plan.work / "logs").string() << "\n";
    }
    std::cout << std::flush;
    if (!o.farm.wait) return 0;
    return Follow(plan, state, todo, o.quiet,
                  [&](State& submitted, std::string& why) { return submit_join(submitted, why, false); });
}

int ManageFarm(const Options& o) {
    const fs::path work = WorkDir(o);
    State state;
    if (!LoadState(work, state)) return Fail("no farm render of " + o.output.string() + " (no " + work.string() + ")");
    for (const char* tool : {"squeue", "scancel"}) {
        if (!OnPath(tool)) return Fail(std::string(tool) + " is not installed (Debian package slurm-client)", kUsage);
    }
    Queue queue;
    std::string error;
    if (!ReadQueue(queue, error)) return Fail("cannot ask Slurm about the jobs: " + error);
    std::error_code ec;
    const auto done = [&](const Chunk& c) { return fs::exists(work / ("chunk-" + std::to_string(c.index) + ".done"), ec); };
    const bool joined = fs::exists(work / "joined.txt", ec);
    if (o.farm.status) {
        std::vector<std::string> lists[4];  // done, running, queued, failed or not started
        for (const Chunk& c : state.chunks) {
            const std::string what = std::to_string(c.index) + " (" + c.Range() + ")";
            const auto j = queue.find(state.array);
            const auto t = j == queue.end() ? decltype(j->second.end()){} : j->second.find(c.index);
            if (done(c)) {
                lists[0].push_back(what);
            } else if (j != queue.end() && t != j->second.end()) {
                lists[t->second.rfind("RUNNING", 0) == 0 ? 1 : 2].push_back(what);
            } else {
                lists[3].push_back(what + (fs::exists(work / "logs" / ("chunk-" + std::to_string(c.index) + ".log"), ec)
                                               ? " failed, log " + (work / "logs" / ("chunk-" + std::to_string(c.index) + ".log")).string()
                                               : " not started"));
            }
        }
        const char* names[4] = {"done", "running", "queued", "not done"};
        std::cout << state.output.string() << ": " << lists[0].size() << " of " << state.chunks.size()
                  << " chunks done; join "
                  << (joined                                         ? "done"
                      : JoinStuck(queue, state)                      ? "waits for ever on a failed task (run again)"
                      : Queued(queue, state.join)                    ? "waiting"
                                                                     : "not done")
                  << "\n";
        for (int i = 0; i < 4; ++i) {
            if (lists[i].empty()) continue;
            std::cout << names[i] << ":";
            for (const auto& item : lists[i]) std::cout << " " << item << (i == 3 ? ";" : "");
            std::cout << "\n";
        }
        return joined ? 0 : 1;
    }
    // --cancel: the jobs first, then what they left.
    Cancel(state.array);
    Cancel(state.join);
    for (int i = 0; i < 100 && (Queued(queue, state.array) || Queued(queue, state.join)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!ReadQueue(queue, error)) break;
    }
    if (Queued(queue, state.array) || Queued(queue, state.join)) {
        return Fail("jobs " + state.array + " and " + state.join + " did not end; nothing is removed");
    }
    if (!joined && !state.video_out) {
        // The frames the tasks wrote since the first submission; a complete
        // output, and frames that were there before, stay.
        const auto pattern = ParseFramePattern(state.output);
        const auto started = fs::last_write_time(work / "started", ec);
        if (pattern && !ec) {
            for (const Chunk& c : state.chunks) {
                for (int f = c.first; f <= c.last; ++f) {
                    const fs::path frame = FramePath(*pattern, f);
                    std::error_code frame_ec;
                    const auto written = fs::last_write_time(frame, frame_ec);
                    if (!frame_ec && written >= started) fs::remove(frame, frame_ec);
                }
            }
        }
        ec.clear();
    }
    fs::remove_all(work, ec);
    if (ec) return Fail("cannot remove " + work.string() + ": " + ec.message());
    std::cout << "cancelled " << state.output.string() << (joined ? " (complete, kept)" : "") << "; removed "
              << work.string() << "\n";
    return 0;
}

}  // namespace velvetshade

#!/usr/bin/env python3
"""Runs the benchmarks tools/bench built and prints one table against the targets,
which it also writes, with the run's date, processor and options, to a Markdown
file (--out; docs/benchmark.md holds the latest full run).

Medians throughout: Google Benchmark repetitions for the look and the frame,
whole-process wall times for velvetshade and FFmpeg, the two run alternately so
that other load on the machine falls on both alike.
"""
import argparse
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

WIDTH, HEIGHT = 3840, 2160
PIXELS = WIDTH * HEIGHT
THREADS = (1, 2)
DEPTHS = (8, 16)
FFMPEG_CHAIN = ("curves=preset=cross_process,vignette=PI/4,"
                "eq=contrast=1.2:brightness=0.05,colorbalance=rs=0.1")
# The same without its colour balance: FFmpeg's cheapest approximation of the look.
FFMPEG_CHAIN_LIGHT = "curves=preset=cross_process,vignette=PI/4,eq=contrast=1.2:brightness=0.05"

# Targets.
FRAME_SECONDS_MAX = 0.15   # a 4K frame through EffectMain on two threads
FRAME_SCALING_MIN = 1.8    # two threads against one
FFMPEG_RATIO_MIN = 2.0     # FFmpeg's time over velvetshade's, same thread count
PHOTO_TIFF_RATIO_MIN = {1: 3.3, 2: 4.5}  # the same on photographic TIFFs, by thread count
PNG_RATIO_MIN = 1.5
JPEG_RATIO_MIN = 2.0
WHOLE_SCALING_MIN = 1.7    # a whole 4K TIFF or PNG run, two threads against one
# The span look against the per-pixel AVX2 look, both depths, by setting.
SPAN_SPEEDUP_MIN = {"Defaults": 2.0, "E6C41_FZuiko": 2.5, "Vintage_FZuiko": 2.5}
VIDEO_RATIO_MIN = 1.45     # 1080p H.264 -> H.264, in wall and in CPU time
VIDEO_LIGHT_CPU_RATIO_MIN = 0.95  # the same against the chain without colorbalance, CPU time
# ffmpeg -vf frei0r=velvetshade against the chain, CPU time, filtering the clip
# (decode and filter graph, -f null): with an x264 encode on both sides the
# encoder's share caps the ratio, so that row is shown without a target.
FREI0R_CHAIN_CPU_RATIO_MIN = 2.5
VIDEO_MEMORY_GROWTH_MAX = 1.10  # peak memory, 250 frames over 50
# FFmpeg's chain ends in RGB, from which libx264 would pick 4:4:4 (a heavier
# encode and a file few players take): 4:2:0 like the source, as ours keeps it.
VIDEO_ENCODE = ["-c:v", "libx264", "-preset", "medium", "-crf", "23", "-pix_fmt", "yuv420p"]


def busy_fraction(interval=1.0):
    """Share of the machine's CPU time not idle over interval seconds."""
    def sample():
        with open("/proc/stat") as f:
            v = [int(x) for x in f.readline().split()[1:]]
        return sum(v), v[3] + v[4]  # idle and iowait
    total0, idle0 = sample()
    time.sleep(interval)
    total1, idle1 = sample()
    return 1.0 - (idle1 - idle0) / max(1, total1 - total0)


QUIET_WAITS = []


def wait_for_quiet(limit):
    """Waits up to limit seconds for other work on the machine to stop, since
    it would slow whatever is measured next; notes when it did not."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if busy_fraction() < 0.1:
            return
    QUIET_WAITS.append(limit)


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=True, **kwargs)


def make_frames(work):
    """Deterministic 4K frames: colour ramps with seeded noise, opaque alpha,
    uncompressed, one 16-bit and one 8-bit."""
    os.makedirs(work, exist_ok=True)
    f16 = os.path.join(work, "frame16.tif")
    f8 = os.path.join(work, "frame8.tif")
    if not os.path.exists(f16):
        run(["oiiotool",
             "--pattern", "fill:topleft=0.1,0.2,0.6:topright=0.9,0.5,0.1:"
                          "bottomleft=0.2,0.8,0.3:bottomright=1,1,0.9", f"{WIDTH}x{HEIGHT}", "3",
             "--pattern", "noise:type=gaussian:mean=0:stddev=0.08:seed=7", f"{WIDTH}x{HEIGHT}", "3",
             "--add", "--ch", "R,G,B,A=1.0", "-d", "uint16", "--compression", "none",
             "-o", f16 + ".part.tif"])
        os.replace(f16 + ".part.tif", f16)
    if not os.path.exists(f8):
        run(["oiiotool", f16, "-d", "uint8", "--compression", "none", "-o", f8 + ".part.tif"])
        os.replace(f8 + ".part.tif", f8)
    return {16: f16, 8: f8}


def gbench(exe, repetitions, extra=(), prefix=()):
    """Median of each benchmark over the repetitions, from Google Benchmark's JSON."""
    # Repetitions of all the program's benchmarks interleaved at random, so
    # that a burst of other work spreads over all of them instead of ruining one.
    out = run([*prefix, exe, f"--benchmark_repetitions={repetitions}", "--benchmark_enable_random_interleaving=true",
               "--benchmark_report_aggregates_only=true", "--benchmark_format=json", *extra],
              stdout=subprocess.PIPE, text=True).stdout
    medians = {}
    rows = [b for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"]
    rows.sort(key=lambda b: (b.get("family_index", 0), b.get("per_family_instance_index", 0)))
    for b in rows:
        medians[b["run_name"]] = b
    return medians


def seconds(b):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def ns_per_pixel(b, pixels):
    if "ns_per_pixel" in b:
        # An inverted rate counter: the JSON holds seconds per pixel.
        return b["ns_per_pixel"] * 1e9
    if "items_per_second" in b:
        return 1e9 / b["items_per_second"]
    return seconds(b) * 1e9 / pixels


def run_timed(cmd, output):
    """Wall and CPU seconds (user + system) of one run of cmd writing output."""
    # Each run writes a new file, as a render normally does: replacing one
    # makes the file system flush the new data at once, which would time the
    # disk rather than the program.
    # The previous run's data goes to disk first, so its writeback does not
    # compete with this run.
    if output != "-" and os.path.exists(output):
        os.remove(output)
    os.sync()
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise subprocess.CalledProcessError(child.returncode, cmd)
    # The usage counts the children it waited for (ffmpeg's encoder, say);
    # ru_maxrss is the largest of them, in KiB.
    return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


PHOTO = "/usr/share/backgrounds/mate/abstract/Elephants_3840x2160.jpg"  # Debian package mate-backgrounds


def make_photos(work):
    """The benchmark's photographs: a 3840x2160 camera picture with its
    ordinary tags (Exif, resolution, date), as image tools write it by default:
    TIFFs uncompressed and deflate-compressed (oiiotool's default, with the
    horizontal predictor), 8 and 16 bits, a PNG, and the JPEG itself."""
    os.makedirs(work, exist_ok=True)
    made = {"photo.jpg": None,
            "photo8.tif": ["-d", "uint8", "--compression", "none"],
            "photo16.tif": ["-d", "uint16", "--compression", "none"],
            "photo8_deflate.tif": ["-d", "uint8"],
            "photo16_deflate.tif": ["-d", "uint16"],
            "photo.png": []}
    paths = {}
    for name, args in made.items():
        path = paths[name] = os.path.join(work, name)
        if os.path.exists(path):
            continue
        part = path + ".part" + os.path.splitext(name)[1]
        if args is None:
            shutil.copyfile(PHOTO, part)
        else:
            run(["oiiotool", PHOTO, *args, "-o", part])
        os.replace(part, path)
    return paths


def make_clip(work):
    """The benchmark's clip: 10 s of 1080p H.264 at 25 fps, as a camera makes
    it (BT.709, limited range, about 25 Mbit/s): a slow pan across the
    photograph with a little moving grain, so that the encoder works as hard
    as on real footage. Made once, with libx264 at a fine quality."""
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "clip.mp4")
    if not os.path.exists(path):
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-loop", "1", "-framerate", "25", "-i", PHOTO,
             "-vf", "scale=2400:1350,crop=1920:1080:x='t*40':y='t*20',noise=alls=6:allf=t,"
                    "scale=out_color_matrix=bt709:out_range=tv",
             "-t", "10", "-c:v", "libx264", "-preset", "medium", "-crf", "20", "-pix_fmt", "yuv420p",
             "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv",
             path + ".part.mp4"])
        os.replace(path + ".part.mp4", path)
    return path


class Case:
    """One input rendered by velvetshade and by the FFmpeg chain at the same
    thread count, to the same format. target is a ratio, or one per thread
    count; ours_filter, when given, makes "ours" FFmpeg itself with that
    filter (the frei0r filter) instead of velvetshade."""
    def __init__(self, label, src, ext, ffmpeg_out_args, target=None, ours_args=(), sizes=False,
                 size_target=True, cpu_target=False, cpu_only=False, chain=None, ours_filter=None):
        self.label, self.src, self.ext = label, src, ext
        # Whether CPU time must meet the target as well as wall time, or only CPU time.
        self.cpu_target, self.cpu_only = cpu_target or cpu_only, cpu_only
        self.chain, self.ours_filter = chain or FFMPEG_CHAIN, ours_filter
        self.ffmpeg_out_args, self.ours_args = list(ffmpeg_out_args), list(ours_args)
        self.target, self.sizes = target, sizes
        # Whether our file must be no larger than FFmpeg's.
        self.size_target = sizes and size_target and ext in ("tif", "png")


def cases(frames, photos, clip):
    raw, deflate = ["-compression_algo", "raw"], ["-compression_algo", "deflate"]
    return [
        Case("synthetic RGBA TIFF 8-bit (uncompressed)", frames[8], "tif", raw, FFMPEG_RATIO_MIN),
        Case("synthetic RGBA TIFF 16-bit (uncompressed)", frames[16], "tif", raw, FFMPEG_RATIO_MIN),
        Case("photo TIFF 8-bit, uncompressed", photos["photo8.tif"], "tif", raw, PHOTO_TIFF_RATIO_MIN),
        Case("photo TIFF 16-bit, uncompressed", photos["photo16.tif"], "tif", raw, PHOTO_TIFF_RATIO_MIN),
        Case("photo TIFF 8-bit, deflate", photos["photo8_deflate.tif"], "tif", deflate, PHOTO_TIFF_RATIO_MIN,
             sizes=True),
        # FFmpeg's chain ends in 8 bits whatever comes in: its file holds half
        # the data, so sizes are shown, not compared.
        Case("photo TIFF 16-bit, deflate", photos["photo16_deflate.tif"], "tif", deflate, PHOTO_TIFF_RATIO_MIN,
             sizes=True, size_target=False),
        Case("photo PNG, default levels", photos["photo.png"], "png", [], PNG_RATIO_MIN, sizes=True),
        # FFmpeg's default is zlib's level 6.
        Case("photo PNG, both at level 6", photos["photo.png"], "png", ["-compression_level", "6"],
             ours_args=["--compression", "6"], sizes=True),
        # Each at its finest setting: our quality 98 (4:2:2, the source's
        # sampling), FFmpeg's smallest quantiser (4:4:4); files of about one size.
        Case("photo JPEG, finest quality both", photos["photo.jpg"], "jpg", ["-qmin", "1", "-q:v", "1"],
             JPEG_RATIO_MIN, sizes=True),
        # The same encoder, preset and quality on both sides.
        Case("1080p H.264 clip, 250 frames -> H.264", clip, "mp4", VIDEO_ENCODE, VIDEO_RATIO_MIN,
             ours_args=["--preset", "medium", "--crf", "23"], sizes=True, cpu_target=True),
        Case("1080p H.264 clip -> H.264, chain without colorbalance", clip, "mp4", VIDEO_ENCODE,
             VIDEO_LIGHT_CPU_RATIO_MIN, ours_args=["--preset", "medium", "--crf", "23"], cpu_only=True,
             chain=FFMPEG_CHAIN_LIGHT),
        # The look as an FFmpeg filter (frei0r) against the chain: the filter
        # graph alone, then through the same encode.
        Case("1080p H.264 clip, decoded and filtered (-f null)", clip, "null", ["-f", "null"],
             FREI0R_CHAIN_CPU_RATIO_MIN, cpu_only=True, ours_filter="frei0r=velvetshade"),
        Case("1080p H.264 clip -> H.264, both in FFmpeg", clip, "mp4", VIDEO_ENCODE,
             ours_filter="frei0r=velvetshade"),
    ]


def target_at(case, threads):
    return case.target.get(threads) if isinstance(case.target, dict) else case.target


def compare_with_ffmpeg(build, work, all_cases, runs, clip_runs, quiet):
    velvetshade = os.path.join(build, "velvetshade")
    results = {}
    for i, case in enumerate(all_cases):
        for threads in THREADS:
            null = case.ext == "null"
            ours_out = "-" if null else os.path.join(work, f"ours{i}.{case.ext}")
            theirs_out = "-" if null else os.path.join(work, f"ffmpeg{i}.{case.ext}")
            # -threads before the input sets the decoder's, after it the
            # encoder's.
            ffmpeg = lambda chain, out: ["ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y",
                                         "-threads", str(threads), "-filter_threads", str(threads), "-i", case.src,
                                         "-vf", chain, "-threads", str(threads), *case.ffmpeg_out_args, out]
            if case.ours_filter:
                ours = ffmpeg(case.ours_filter, ours_out)
            else:
                ours = [velvetshade, "render", case.src, ours_out, "--threads", str(threads), "--overwrite",
                        "--quiet", *case.ours_args]
            theirs = ffmpeg(case.chain, theirs_out)
            wait_for_quiet(quiet)
            clip = case.src.endswith(".mp4")
            if not clip:  # a clip's half-minute runs need no warming
                run_timed(ours, ours_out)  # warm the page cache and the loader for both
                run_timed(theirs, theirs_out)
            ours_t, theirs_t = [], []
            for _ in range(clip_runs if clip else runs):
                ours_t.append(run_timed(ours, ours_out))
                theirs_t.append(run_timed(theirs, theirs_out))
            results[(i, threads)] = {
                "ours_wall": statistics.median(t[0] for t in ours_t),
                "ours_cpu": statistics.median(t[1] for t in ours_t),
                "ffmpeg_wall": statistics.median(t[0] for t in theirs_t),
                "ffmpeg_cpu": statistics.median(t[1] for t in theirs_t),
                # Ratios run by run, FFmpeg's over ours, so that a slow spell
                # of the machine falls on both sides of each one.
                "ratio": statistics.median(b[0] / a[0] for a, b in zip(ours_t, theirs_t)),
                "cpu_ratio": statistics.median(b[1] / a[1] for a, b in zip(ours_t, theirs_t)),
                "ours_bytes": 0 if null else os.path.getsize(ours_out),
                "ffmpeg_bytes": 0 if null else os.path.getsize(theirs_out),
            }
    return results


def video_memory(build, work, clip):
    """velvetshade's peak memory (KiB, itself and its encoder) rendering the
    first 50 frames of the clip and all 250: a video is streamed, so the
    two should be alike."""
    velvetshade = os.path.join(build, "velvetshade")
    out = os.path.join(work, "memory.mp4")
    peak = {}
    for frames in (50, 250):
        peak[frames] = run_timed([velvetshade, "render", clip, out, "--frames", f"1-{frames}", "--overwrite",
                                  "--quiet", "--preset", "ultrafast"], out)[2]
    return peak


def verdict(ok):
    return "pass" if ok else "FAIL"


def processor():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


def write_whole(path, text):
    """Writes text to path complete or not at all: a temporary file beside it,
    synced, then renamed over it."""
    directory = os.path.dirname(os.path.abspath(path))
    os.makedirs(directory, exist_ok=True)
    part = path + ".part"
    try:
        with open(part, "w") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.replace(part, path)
    finally:
        if os.path.exists(part):
            os.remove(part)
    fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def benchmark_log(log, options, date, cpu):
    """The run's log as a Markdown page: what was run, when and where, then
    the log itself (its first line and the table)."""
    return ("# Benchmark run\n\n"
            f"`bash tools/bench{(' ' + options) if options else ''}` on {date}, {cpu}; written by "
            "`tools/bench_table.py` (the README's Performance section says what each row measures).\n\n"
            + "\n\n".join(log[:-1]) + "\n\n" + log[-1] + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", default="build/linux")
    ap.add_argument("--work", default="build/bench")
    ap.add_argument("--runs", type=int, default=7, help="process runs per velvetshade/FFmpeg case")
    ap.add_argument("--repetitions", type=int, default=5, help="Google Benchmark repetitions")
    ap.add_argument("--clip-runs", type=int, help="process runs per case on the clip (default: --runs; "
                                                   "--quick: 2)")
    ap.add_argument("--quick", action="store_true", help="3 runs and 3 repetitions")
    ap.add_argument("--json", help="also write the raw medians here")
    ap.add_argument("--out", help="write the log, the table with the run's date, processor and options, here "
                                  "(default: benchmark.md in the --work folder; docs/benchmark.md is the "
                                  "latest full run)")
    ap.add_argument("--quiet-wait", type=float, default=60,
                    help="seconds to wait before each part for the machine to be idle (0: no wait)")
    ap.add_argument("--only", help="measure only the velvetshade/FFmpeg cases whose label holds this text, "
                                   "without the benchmarks")
    args = ap.parse_args()
    # As given to tools/bench, for the log: the folders are its own.
    options = " ".join(a for a in sys.argv[1:] if a not in ("--build", args.build, "--work", args.work))
    if args.quick:
        args.runs = args.repetitions = 3
        args.clip_runs = args.clip_runs or 2
    args.clip_runs = args.clip_runs or args.runs

    load = os.getloadavg()[0]
    frames = make_frames(args.work)
    photos = make_photos(args.work)
    all_cases = cases(frames, photos, make_clip(args.work))
    if args.only:
        all_cases = [c for c in all_cases if args.only in c.label]
    bench = lambda area, name: {} if args.only else (
        wait_for_quiet(args.quiet_wait), gbench(os.path.join(args.build, "bench", area, name), args.repetitions))[1]
    look = bench("look", "look_bench")
    iterate = bench("host", "host_iterate_bench")
    frame = bench("render", "render_frame_bench")
    # The frei0r filter on one processor (its affinity) and on all.
    frei0r_exe = os.path.join(args.build, "bench", "frei0r", "frei0r_update_bench")
    frei0r = {} if args.only else {
        threads: (wait_for_quiet(args.quiet_wait),
                  gbench(frei0r_exe, args.repetitions, ("--benchmark_filter=1920",),
                         ("taskset", "-c", "0") if threads == 1 else ()))[1]
        for threads in THREADS}
    # The frei0r filter as built here, for the rows that run it in FFmpeg.
    os.environ["FREI0R_PATH"] = os.path.abspath(os.path.join(args.build, "frei0r-1"))
    e2e = compare_with_ffmpeg(args.build, args.work, all_cases, args.runs, args.clip_runs, args.quiet_wait)
    clip_cases = [c for c in all_cases if c.ext == "mp4" and not c.ours_filter]
    memory = video_memory(args.build, args.work, clip_cases[0].src) if clip_cases else {}

    rows = []
    failures = 0
    for name, b in look.items():
        rows.append([f"look `{name}` (1920x1080), ns/pixel", f"{ns_per_pixel(b, 1920 * 1080):.1f}",
                     "", "", "", ""])
    for depth in DEPTHS:
        for setting, minimum in SPAN_SPEEDUP_MIN.items():
            pixel, span = look.get(f"Look{depth}/Avx2/{setting}"), look.get(f"Span{depth}/Avx2/{setting}")
            if not pixel or not span:
                continue
            speedup = ns_per_pixel(pixel, 1) / ns_per_pixel(span, 1)
            ok = speedup >= minimum
            failures += not ok
            rows.append([f"look span / per-pixel AVX2, {depth}-bit {setting}", f"{speedup:.2f}x", "", "",
                         f">= {minimum}x", verdict(ok)])
    t = {n: frei0r.get(n, {}).get("Update/1920/1080") for n in THREADS}
    if all(t.values()):
        rows.append(["frei0r update 1920x1080", f"{seconds(t[1]) * 1e3:.1f} ms", f"{seconds(t[2]) * 1e3:.1f} ms",
                     f"{seconds(t[1]) / seconds(t[2]):.2f}x", "", ""])
    for depth in DEPTHS:
        # The host's own share of a frame: iterate around a pixel function that only copies.
        t = {n: iterate.get(f"IterateFrame<PF_Pixel{depth}>/{n}/real_time") for n in THREADS}
        if all(t.values()):
            rows.append([f"host iterate, {depth}-bit copy (1920x1080), ns/pixel",
                         f"{ns_per_pixel(t[1], 1920 * 1080):.2f}", f"{ns_per_pixel(t[2], 1920 * 1080):.2f}",
                         f"{seconds(t[1]) / seconds(t[2]):.2f}x", "", ""])
    for depth in DEPTHS:
        t = {}
        for threads in THREADS:
            b = frame.get(f"RenderFrame{depth}/{threads}/real_time")
            t[threads] = (seconds(b), ns_per_pixel(b, PIXELS)) if b else None
        if args.only:
            continue
        if not all(t.values()):
            rows.append([f"frame {depth}-bit through EffectMain", "missing", "", "", "", "FAIL"])
            failures += 1
            continue
        speedup = t[1][0] / t[2][0]
        ok = t[2][0] <= FRAME_SECONDS_MAX and speedup >= FRAME_SCALING_MIN
        failures += not ok
        rows.append([f"frame 3840x2160 {depth}-bit through EffectMain",
                     f"{t[1][0]:.3f} s ({t[1][1]:.1f} ns/px)", f"{t[2][0]:.3f} s ({t[2][1]:.1f} ns/px)",
                     f"{speedup:.2f}x", f"<= {FRAME_SECONDS_MAX} s on 2, >= {FRAME_SCALING_MIN}x",
                     verdict(ok)])
    for i, case in enumerate(all_cases):
        r = {n: e2e[(i, n)] for n in THREADS}
        scaling = r[1]["ours_wall"] / r[2]["ours_wall"]
        ours_name = "ffmpeg -vf frei0r=velvetshade" if case.ours_filter else "velvetshade"
        rows.append([f"{ours_name}: {case.label}",
                     f"{r[1]['ours_wall']:.3f} s (cpu {r[1]['ours_cpu']:.2f})",
                     f"{r[2]['ours_wall']:.3f} s (cpu {r[2]['ours_cpu']:.2f})", f"{scaling:.2f}x", "", ""])
        rows.append([f"FFmpeg {'chain without colorbalance' if case.chain == FFMPEG_CHAIN_LIGHT else 'chain'}: "
                     f"{case.label}",
                     f"{r[1]['ffmpeg_wall']:.3f} s (cpu {r[1]['ffmpeg_cpu']:.2f})",
                     f"{r[2]['ffmpeg_wall']:.3f} s (cpu {r[2]['ffmpeg_cpu']:.2f})",
                     f"{r[1]['ffmpeg_wall'] / r[2]['ffmpeg_wall']:.2f}x", "", ""])
        ratio = {n: r[n]["ratio"] for n in THREADS}
        target, ok = "", True
        if case.target:
            minimum = {n: target_at(case, n) for n in THREADS}
            shown = (f">= {minimum[1]}x on each" if minimum[1] == minimum[2]
                     else f">= {minimum[1]}x on 1, {minimum[2]}x on 2")
            if case.cpu_only:
                target = shown + ", CPU time"
                ok = all(r[n]["cpu_ratio"] >= minimum[n] for n in THREADS)
            else:
                target = shown + (", CPU too" if case.cpu_target else "")
                ok = all(ratio[n] >= minimum[n] for n in THREADS)
                if case.cpu_target:
                    ok = ok and all(r[n]["cpu_ratio"] >= minimum[n] for n in THREADS)
        if case.sizes:
            ours_mb, theirs_mb = r[1]["ours_bytes"] / 1e6, r[1]["ffmpeg_bytes"] / 1e6
            size_note = f"; files {ours_mb:.1f} MB / FFmpeg's {theirs_mb:.1f} MB"
            if case.target and case.size_target:
                target += ", file no larger"
                ok = ok and r[1]["ours_bytes"] <= r[1]["ffmpeg_bytes"]
        else:
            size_note = ""
        if case.target:
            failures += not ok
        rows.append([f"FFmpeg / {ours_name}: {case.label}{size_note}",
                     f"{ratio[1]:.2f}x (cpu {r[1]['cpu_ratio']:.2f}x)", f"{ratio[2]:.2f}x (cpu {r[2]['cpu_ratio']:.2f}x)",
                     "", target, verdict(ok) if case.target else ""])
    # Whole runs on two threads against one, on the photographs TIFF and PNG.
    for i, case in enumerate(all_cases):
        if case.label in ("photo TIFF 8-bit, deflate", "photo PNG, default levels"):
            scaling = e2e[(i, 1)]["ours_wall"] / e2e[(i, 2)]["ours_wall"]
            ok = scaling >= WHOLE_SCALING_MIN
            failures += not ok
            rows.append([f"velvetshade whole run, 2 threads against 1: {case.label}", "", "", f"{scaling:.2f}x",
                         f">= {WHOLE_SCALING_MIN}x", verdict(ok)])

    if memory:
        growth = memory[250] / memory[50]
        ok = growth <= VIDEO_MEMORY_GROWTH_MAX
        failures += not ok
        rows.append(["velvetshade peak memory, 1080p clip: 50 frames, 250 frames",
                     f"{memory[50] / 1024:.0f} MiB", f"{memory[250] / 1024:.0f} MiB", f"{growth:.2f}x",
                     f"<= {VIDEO_MEMORY_GROWTH_MAX}x", verdict(ok)])

    header = ["measurement", "1 thread", "2 threads", "1 -> 2", "target", "result"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    line = lambda cells: "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"
    log = [f"{os.cpu_count()} cores, load average {load:.2f} at the start and "
           f"{os.getloadavg()[0]:.2f} at the end (other work on the machine slows both sides); "
           f"medians of {args.repetitions} repetitions (benchmarks) and {args.runs} runs (processes; "
           f"{args.clip_runs} on the clip)"]
    if QUIET_WAITS:
        log.append(f"note: the machine was busy with other work before {len(QUIET_WAITS)} of the parts; "
                   "their numbers are slower than an idle machine gives")
    log.append("\n".join([line(header), "|" + "|".join("-" * (w + 2) for w in widths) + "|"] +
                         [line(r) for r in rows]))
    print("\n".join(log))

    out = args.out or os.path.join(args.work, "benchmark.md")
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    write_whole(out, benchmark_log(log, options, date, f"{processor()} ({os.cpu_count()} cores)"))
    print(f"written to {out}")
    if args.json:
        write_whole(args.json, json.dumps(
            {"look": look, "iterate": iterate, "frame": frame,
             "end_to_end": {f"{all_cases[i].label}/{n} threads": r for (i, n), r in e2e.items()}}, indent=1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

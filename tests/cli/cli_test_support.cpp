#include "cli_test_support.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/images/convert16.h"
#include "cli/system/process.h"
#include "look/look_pixel.h"

namespace velvetshade::test {
namespace fs = std::filesystem;

TempDir::TempDir(const std::string& name) {
    path = fs::temp_directory_path() /
           ("velvetshade-test-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::vector<fs::path> TempDir::Leftovers() const {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(path)) {
        if (e.path().filename().string().find(".velvetshade-") != std::string::npos) found.push_back(e.path());
    }
    return found;
}

RunResult RunProgram(const std::vector<std::string>& argv) {
    RunResult result;
    Subprocess child;
    std::string error;
    if (!child.Start(argv, Subprocess::Pipe::FromChild, error)) {
        result.err = error;
        return result;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(child.fd(), buffer, sizeof buffer);
        if (n <= 0) break;
        result.out.append(buffer, std::size_t(n));
    }
    result.exit_code = child.Wait(error) ? 0 : 1;
    result.err = child.ErrorOutput();
    if (result.exit_code != 0) {
        // The tool's own code, from the message "velvetshade failed (exit N)".
        const auto at = error.find("(exit ");
        if (at != std::string::npos) result.exit_code = std::stoi(error.substr(at + 6));
        else result.exit_code = 255;
    }
    return result;
}

std::string TiffMetadata(const fs::path& path) {
    const RunResult r = RunProgram({"exiftool", "-a", "-G1", "-s", "-n", "-IFD0:all", "-ExifIFD:all", "-GPS:all",
                                    "-XMP:all", "-IPTC:all", "-InteropIFD:all", path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string kept;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Strip") == std::string::npos) kept += line + "\n";
    }
    return kept;
}

RunResult RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {VELVETSHADE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

MeasuredRun RunToolMeasured(const std::vector<std::string>& args) {
    MeasuredRun run;
    std::vector<std::string> argv = {VELVETSHADE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    std::FILE* err = std::tmpfile();
    if (err == nullptr) return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(::fileno(err), 2);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.peak_mib = double(usage.ru_maxrss) / 1024.0;
    }
    std::rewind(err);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, err)) > 0;) run.err.append(buffer, n);
    std::fclose(err);
    return run;
}

Pixels RandomPixels(int width, int height, int channels, int bits, unsigned seed) {
    Pixels p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.bits = bits;
    p.format = bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    std::mt19937 rng(seed);
    const std::uint32_t max = bits == 8 ? 255 : 65535;
    p.data.resize(std::size_t(width) * std::size_t(height) * std::size_t(channels));
    for (auto& v : p.data) v = rng() % (max + 1);
    // The extremes always appear.
    if (!p.data.empty()) {
        p.data.front() = 0;
        p.data.back() = max;
    }
    return p;
}

void WriteImage(const fs::path& path, const Pixels& p,
                const std::vector<std::pair<std::string, std::string>>& attributes) {
    auto out = OIIO::ImageOutput::create(path.string());
    ASSERT_TRUE(out) << path;
    OIIO::ImageSpec spec(p.width, p.height, p.channels, p.format);
    if (p.channels == 4) {
        spec.alpha_channel = 3;
        spec.attribute("oiio:UnassociatedAlpha", 1);
    }
    for (const auto& [k, v] : attributes) spec.attribute(k, v);
    ASSERT_TRUE(out->open(path.string(), spec)) << out->geterror();
    if (p.bits == 8) {
        std::vector<std::uint8_t> d(p.data.begin(), p.data.end());
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, d.data()));
    } else {
        std::vector<std::uint16_t> d(p.data.begin(), p.data.end());
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, d.data()));
    }
    ASSERT_TRUE(out->close());
}

Pixels ReadImage(const fs::path& path, OIIO::ImageSpec* spec_out) {
    Pixels p;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path << ": " << OIIO::geterror();
        return p;
    }
    const auto& spec = in->spec();
    if (spec_out) *spec_out = spec;
    p.width = spec.width;
    p.height = spec.height;
    p.channels = spec.nchannels;
    p.format = spec.format;
    p.bits = spec.format == OIIO::TypeDesc::UINT8 ? 8 : 16;
    const std::size_t n = std::size_t(p.width) * std::size_t(p.height) * std::size_t(p.channels);
    if (p.bits == 8) {
        std::vector<std::uint8_t> d(n);
        EXPECT_TRUE(in->read_image(0, 0, 0, p.channels, OIIO::TypeDesc::UINT8, d.data()));
        p.data.assign(d.begin(), d.end());
    } else {
        std::vector<std::uint16_t> d(n);
        EXPECT_TRUE(in->read_image(0, 0, 0, p.channels, OIIO::TypeDesc::UINT16, d.data()));
        p.data.assign(d.begin(), d.end());
    }
    return p;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

Image ToImage(const Pixels& p) {
    Image image;
    image.Allocate(p.width, p.height, p.bits);
    image.has_alpha = p.channels == 4;
    for (std::size_t i = 0; i < std::size_t(p.width) * std::size_t(p.height); ++i) {
        for (int c = 0; c < 4; ++c) {
            const std::uint32_t v = c < p.channels ? p.data[i * std::size_t(p.channels) + std::size_t(c)]
                                                   : (p.bits == 8 ? 255u : 65535u);
            if (p.bits == 8) image.pixels8[i * 4 + std::size_t(c)] = std::uint8_t(v);
            else image.pixels16[i * 4 + std::size_t(c)] = std::uint16_t(v);
        }
    }
    return image;
}

LookParams Geometry(LookParams params, int width, int height, int num, int den) {
    // The host reports the layer's full size, image size / scale rounded;
    // the module scales it back by num/den without rounding.
    const double layer_w = std::round(double(width) * den / num);
    const double layer_h = std::round(double(height) * den / num);
    const double w = std::int32_t(layer_w) * (double(num) / double(den));
    const double h = std::int32_t(layer_h) * (double(num) / double(den));
    params.half_diagonal = 0.5 * std::sqrt(h * h + w * w);
    params.width = std::int32_t(w);
    params.height = std::int32_t(h);
    return params;
}

Pixels Expected(const Pixels& p, const LookParams& params) {
    Pixels e = p;
    look::PreparedLook prepared = look::PrepareLook(params);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t alpha = p.channels == 4 ? p.at(x, y, 3) : (p.bits == 8 ? 255 : 65535);
            std::uint32_t rgb[3];
            if (p.bits == 8) {
                look::Pixel8 in{std::uint8_t(alpha), std::uint8_t(p.at(x, y, 0)), std::uint8_t(p.at(x, y, 1)),
                             std::uint8_t(p.at(x, y, 2))};
                look::Pixel8 out{};
                look::LookPixel8Plain(&prepared, x, y, &in, &out);
                rgb[0] = out.red;
                rgb[1] = out.green;
                rgb[2] = out.blue;
            } else {
                look::Pixel16 in{FileToHost16(std::uint16_t(alpha)), FileToHost16(std::uint16_t(p.at(x, y, 0))),
                              FileToHost16(std::uint16_t(p.at(x, y, 1))), FileToHost16(std::uint16_t(p.at(x, y, 2)))};
                look::Pixel16 out{};
                look::LookPixel16Plain(&prepared, x, y, &in, &out);
                rgb[0] = HostToFile16(out.red);
                rgb[1] = HostToFile16(out.green);
                rgb[2] = HostToFile16(out.blue);
            }
            const std::size_t at = (std::size_t(y) * std::size_t(p.width) + std::size_t(x)) * std::size_t(p.channels);
            for (int c = 0; c < 3; ++c) e.data[at + std::size_t(c)] = rgb[c];
        }
    }
    return e;
}

}  // namespace velvetshade::test

#include "cli/commands/contact_sheet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli/images/image_ops.h"
#include "cli/system/text.h"

namespace velvetshade {
namespace {

constexpr int kMaxSteps = 64;
constexpr double kBackground = 0.15;  // dark grey, so no look's colours vanish into it
constexpr double kLabelGrey = 0.9;

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(sep, start);
        parts.push_back(Trim(text.substr(start, at - start)));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// As the host shows a slider: two decimals, trailing zeros dropped.
std::string Shown(double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2);
    std::string s(text, r.ptr);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

void Fill(Image& image, double grey) {
    if (image.depth == 16) {
        std::fill(image.pixels16.begin(), image.pixels16.end(), std::uint16_t(std::lround(grey * 65535)));
        for (std::size_t i = 3; i < image.pixels16.size(); i += 4) image.pixels16[i] = 65535;
    } else {
        std::fill(image.pixels8.begin(), image.pixels8.end(), std::uint8_t(std::lround(grey * 255)));
        for (std::size_t i = 3; i < image.pixels8.size(); i += 4) image.pixels8[i] = 255;
    }
}

// cell's colour channels into sheet at (x, y); the sheet stays opaque.
template <typename T>
void Place(const PixelVector<T>& cell, int width, int height, PixelVector<T>& sheet, int sheet_width, int x,
           int y) {
    for (int row = 0; row < height; ++row) {
        const T* s = &cell[std::size_t(row) * std::size_t(width) * 4];
        T* d = &sheet[(std::size_t(y + row) * std::size_t(sheet_width) + std::size_t(x)) * 4];
        for (int i = 0; i < width; ++i, s += 4, d += 4) std::memcpy(d, s, 3 * sizeof(T));
    }
}

}  // namespace

SheetAxis PopupAxis(const ParamInfo& param) {
    SheetAxis axis;
    axis.name = param.name;
    axis.values = param.items;
    axis.labels = param.items;
    return axis;
}

bool ParseVary(const std::string& text, const std::vector<ParamInfo>& params, SheetAxis& axis,
               std::string& error) {
    const std::string usage = "--vary takes \"NAME=FROM:TO:STEPS\" or \"NAME=A,B,C\", got \"" + text + "\"";
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
        error = usage;
        return false;
    }
    const ParamInfo* p = FindParam(params, text.substr(0, eq));
    if (!p || p->kind == ParamInfo::Kind::Other) {
        error = "--vary: unknown parameter \"" + Trim(text.substr(0, eq)) + "\" (see velvetshade params)";
        return false;
    }
    axis = SheetAxis{};
    axis.name = p->name;
    const std::string spec = text.substr(eq + 1);
    std::vector<double> numbers;  // slider values, or pop-up items
    if (spec.find(':') != std::string::npos) {
        const auto parts = Split(spec, ':');
        long long steps = 0;
        const bool popup = p->kind == ParamInfo::Kind::Popup;
        if (parts.size() < 2 || parts.size() > 3 || (parts.size() == 2 && !popup) ||
            (parts.size() == 3 && (!ParseInt(parts[2], steps) || steps < 2 || steps > kMaxSteps))) {
            error = usage + " (STEPS from 2 to " + std::to_string(kMaxSteps) + ")";
            return false;
        }
        double from = 0, to = 0;
        if (popup) {
            from = PopupItem(*p, parts[0]);
            to = PopupItem(*p, parts[1]);
            if (parts.size() == 2) steps = (long long)std::abs(to - from) + 1;
        } else if (!ParseNumber(parts[0], from) || !ParseNumber(parts[1], to)) {
            error = usage;
            return false;
        }
        for (long long i = 0; i < steps; ++i) {
            double v = i == 0 ? from : i == steps - 1 ? to : from + (to - from) * double(i) / double(steps - 1);
            // Steps between read as the decimals a user would type (0.55, not
            // 0.5499999999999999); the ends are exactly as given.
            if (i != 0 && i != steps - 1) v = popup ? std::round(v) : std::round(v * 1e6) / 1e6;
            numbers.push_back(v);
        }
    } else {
        for (const auto& part : Split(spec, ',')) {
            double v = 0;
            if (p->kind == ParamInfo::Kind::Popup) v = PopupItem(*p, part);
            else if (!ParseNumber(part, v)) v = std::nan("");
            numbers.push_back(v);
        }
        if (numbers.size() > kMaxSteps) {
            error = "--vary takes at most " + std::to_string(kMaxSteps) + " values";
            return false;
        }
    }
    for (const double v : numbers) {
        if (p->kind == ParamInfo::Kind::Popup) {
            if (v < 1 || v > double(p->items.size())) {
                error = "--vary: \"" + p->name + "\" steps through its items: " + ItemList(*p) + ", got \"" +
                        spec + "\"";
                return false;
            }
            axis.values.push_back(p->items[std::size_t(v) - 1]);
            axis.labels.push_back(p->items[std::size_t(v) - 1]);
        } else {
            if (!(double(float(v)) >= p->min && double(float(v)) <= p->max)) {
                error = "--vary: \"" + p->name + "\" runs from " + FormatFloat(p->min) + " to " +
                        FormatFloat(p->max) + ", got \"" + spec + "\"";
                return false;
            }
            axis.values.push_back(FormatDouble(v));
            axis.labels.push_back(p->name + " " + Shown(v));
        }
    }
    return true;
}

SheetLayout MakeLayout(int input_width, int input_height, int cell_width, int rows, int columns) {
    SheetLayout l;
    l.cell_width = std::min(cell_width, input_width);
    l.cell_height = std::max(1, int(std::lround(double(input_height) * l.cell_width / input_width)));
    l.rows = rows;
    l.columns = columns;
    l.gap = std::clamp(l.cell_width / 32, 4, 16);
    l.label_height = std::clamp(l.cell_width / 9, 18, 36);
    return l;
}

bool MakeContactSheet(EffectRenderer& effect, const Image& input, const SheetLayout& layout,
                      const SheetAxis& rows, const SheetAxis& columns, const std::vector<ParamSetting>& base,
                      int threads, Image& sheet, std::string& error) {
    Image small;
    if (layout.cell_width == input.width && layout.cell_height == input.height) {
        small = input;
    } else if (!ResizeImage(input, layout.cell_width, layout.cell_height, small, error)) {
        return false;
    }
    sheet = Image{};
    sheet.Allocate(layout.width(), layout.height(), input.depth);
    Fill(sheet, kBackground);

    const bool grid = !columns.values.empty();
    const std::size_t count = grid ? rows.values.size() * columns.values.size() : rows.values.size();
    Image cell;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t r = grid ? i / columns.values.size() : i;
        std::vector<ParamSetting> settings = base;
        settings.push_back({rows.name, rows.values[r], "--vary " + rows.name});
        std::string label = rows.labels[r];
        if (grid) {
            const std::size_t c = i % columns.values.size();
            settings.push_back({columns.name, columns.values[c], "--vary " + columns.name});
            label += " / " + columns.labels[c];
        }
        cell = small;
        if (!effect.Configure(settings, threads, Ratio{}, error) || !effect.Render(cell, error)) return false;
        const int x = layout.cell_x(int(i) % layout.columns), y = layout.cell_y(int(i) / layout.columns);
        if (cell.depth == 16) {
            Place(cell.pixels16, cell.width, cell.height, sheet.pixels16, sheet.width, x, y);
        } else {
            Place(cell.pixels8, cell.width, cell.height, sheet.pixels8, sheet.width, x, y);
        }
        if (!DrawLabel(sheet, x, y + layout.cell_height, layout.cell_width, layout.label_height, label,
                       kLabelGrey, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace velvetshade

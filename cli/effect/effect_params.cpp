#include "cli/effect/effect_params.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli/system/text.h"

namespace velvetshade {
namespace {

std::vector<std::string> SplitItems(const char* list) {
    std::vector<std::string> items;
    if (!list) return items;
    std::string_view rest(list, ::strnlen(list, 4096));
    for (;;) {
        const auto bar = rest.find('|');
        items.emplace_back(rest.substr(0, bar));
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    return items;
}

std::string KnownNames(const std::vector<ParamInfo>& params) {
    std::string text;
    for (const auto& p : params) {
        if (p.kind == ParamInfo::Kind::Other) continue;
        text += (text.empty() ? "\"" : ", \"") + p.name + "\"";
    }
    return text;
}

}  // namespace

const ParamInfo* FindParam(const std::vector<ParamInfo>& params, std::string_view name) {
    const std::string wanted = Lower(Trim(name));
    for (const auto& p : params) {
        if (Lower(p.name) == wanted || p.option == wanted) return &p;
    }
    // Anything spelled like a derived option: "Vignetting_Amount", "x process type".
    const std::string option = OptionName(name);
    for (const auto& p : params) {
        if (!option.empty() && p.option == option) return &p;
    }
    return nullptr;
}

int PopupItem(const ParamInfo& p, std::string_view text) {
    const std::string wanted = Lower(text);
    for (std::size_t i = 0; i < p.items.size(); ++i) {
        if (Lower(p.items[i]) == wanted) return int(i) + 1;
    }
    long long n = 0;
    return ParseInt(text, n) && n >= 1 && n <= (long long)p.items.size() ? int(n) : 0;
}

std::string ItemList(const ParamInfo& p) {
    std::string text;
    for (std::size_t i = 0; i < p.items.size(); ++i) text += (i ? ", " : "") + p.items[i];
    return text + " (or 1-" + std::to_string(p.items.size()) + ")";
}

bool ParseNumber(std::string_view text, double& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

std::string FormatDouble(double value) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

std::string FormatFloat(double value) {
    char text[64];
    const auto f = float(value);
    if (double(f) == value) {
        const auto r = std::to_chars(text, text + sizeof text, f);
        return std::string(text, r.ptr);
    }
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

std::vector<ParamInfo> DescribeParams(const std::vector<PF_ParamDef>& definitions) {
    std::vector<ParamInfo> params;
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        const PF_ParamDef& def = definitions[i];
        ParamInfo p;
        p.index = int(i) + 1;
        p.name.assign(def.name, ::strnlen(def.name, sizeof def.name));
        p.option = OptionName(p.name);
        p.type = def.param_type;
        if (def.param_type == PF_Param_FLOAT_SLIDER) {
            p.kind = ParamInfo::Kind::Slider;
            p.min = def.u.fs_d.valid_min;
            p.max = def.u.fs_d.valid_max;
            p.slider_min = def.u.fs_d.slider_min;
            p.slider_max = def.u.fs_d.slider_max;
            p.default_value = def.u.fs_d.value;
            p.precision = def.u.fs_d.precision;
        } else if (def.param_type == PF_Param_POPUP) {
            p.kind = ParamInfo::Kind::Popup;
            p.items = SplitItems(def.u.pd.u.namesptr);
            // The host offers only as many items as the module says it has.
            const auto choices = std::size_t(std::max<int>(0, def.u.pd.num_choices));
            if (p.items.size() > choices) p.items.resize(choices);
            p.default_value = def.u.pd.value;
        }
        params.push_back(std::move(p));
    }
    return params;
}

bool ApplySettings(const std::vector<ParamInfo>& params, const std::vector<ParamSetting>& settings,
                   std::vector<PF_ParamDef>& values, std::string& error) {
    for (const auto& s : settings) {
        const ParamInfo* p = FindParam(params, s.name);
        if (!p) {
            error = "unknown parameter \"" + s.name + "\" in " + s.spelling +
                    "; the effect's parameters are " + KnownNames(params) + " (see velvetshade params)";
            return false;
        }
        if (std::size_t(p->index) >= values.size()) {
            error = "internal error: no value slot for \"" + p->name + "\"";
            return false;
        }
        PF_ParamDef& slot = values[std::size_t(p->index)];
        const std::string value = Trim(s.value);
        if (p->kind == ParamInfo::Kind::Slider) {
            double v = 0;
            // The range is compared at the 32-bit precision it was registered
            // with, so "0.1" is inside a range that starts at 0.1f.
            if (!ParseNumber(value, v)) {
                error = "\"" + p->name + "\" takes a number from " + FormatFloat(p->min) + " to " +
                        FormatFloat(p->max) + ", got \"" + s.value + "\"";
                return false;
            }
            const double rounded = double(float(v));
            if (!(rounded >= p->min && rounded <= p->max)) {
                error = "\"" + p->name + "\" must be between " + FormatFloat(p->min) + " and " +
                        FormatFloat(p->max) + ", got " + value;
                return false;
            }
            slot.u.fs_d.value = v;
        } else if (p->kind == ParamInfo::Kind::Popup) {
            const int item = PopupItem(*p, value);
            if (item == 0) {
                error = "\"" + p->name + "\" has no item \"" + s.value + "\"; its items are " + ItemList(*p);
                return false;
            }
            slot.u.pd.value = item;
        } else {
            error = "\"" + p->name + "\" cannot be set from the command line";
            return false;
        }
    }
    return true;
}

std::string FormatParams(const std::vector<ParamInfo>& params) {
    std::string text;
    for (const auto& p : params) {
        const std::string number = std::to_string(p.index);
        text += std::string(number.size() < 2 ? 2 - number.size() : 0, ' ') + number + "  " + p.name +
                "  (--" + p.option + ")\n";
        if (p.kind == ParamInfo::Kind::Slider) {
            text += "     float slider, " + FormatFloat(p.min) + " to " + FormatFloat(p.max) +
                    ", default " + FormatFloat(p.default_value);
            if (p.slider_min != p.min || p.slider_max != p.max) {
                text += ", slider " + FormatFloat(p.slider_min) + " to " + FormatFloat(p.slider_max);
            }
            text += "\n";
        } else if (p.kind == ParamInfo::Kind::Popup) {
            const auto d = std::size_t(p.default_value);
            text += "     pop-up, default " + std::to_string(int(p.default_value)) +
                    (d >= 1 && d <= p.items.size() ? " \"" + p.items[d - 1] + "\"" : std::string()) + "\n";
            for (std::size_t i = 0; i < p.items.size(); ++i) {
                text += "       " + std::to_string(i + 1) + " " + p.items[i] + "\n";
            }
        } else {
            text += "     type " + std::to_string(p.type) + " (not settable from the command line)\n";
        }
    }
    return text;
}

bool ParseInt(std::string_view text, long long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
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

}  // namespace velvetshade

#include "cli/commands/params_json.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace velvetshade {

using Json = nlohmann::ordered_json;

namespace {

// Registered 32-bit floats as the decimals they were written as (0.1, not
// 0.100000001490116), which read back as the same 32-bit float.
Json Number(double value) {
    const auto f = float(value);
    if (double(f) == value && std::trunc(value) == value && std::fabs(value) < 1e15) return (long long)value;
    return Json::parse(FormatFloat(value));
}

}  // namespace

std::string ParamsJson(const std::vector<ParamInfo>& params) {
    Json list = Json::array();
    for (const auto& p : params) {
        Json j;
        j["index"] = p.index;
        j["name"] = p.name;
        j["option"] = "--" + p.option;
        if (p.kind == ParamInfo::Kind::Slider) {
            j["kind"] = "slider";
            j["min"] = Number(p.min);
            j["max"] = Number(p.max);
            j["slider_min"] = Number(p.slider_min);
            j["slider_max"] = Number(p.slider_max);
            j["default"] = Number(p.default_value);
            j["precision"] = p.precision;
        } else if (p.kind == ParamInfo::Kind::Popup) {
            j["kind"] = "popup";
            j["items"] = p.items;
            const auto d = std::size_t(p.default_value);
            j["default"] = d >= 1 && d <= p.items.size() ? Json(p.items[d - 1]) : Json(nullptr);
            j["default_index"] = (long long)p.default_value;
        } else {
            j["kind"] = "other";
            j["type"] = p.type;
        }
        list.push_back(std::move(j));
    }
    return list.dump(2) + "\n";
}

std::string LooksJson(const std::vector<LookEntry>& looks, const std::vector<ParamInfo>& params) {
    Json list = Json::array();
    for (const LookEntry& look : looks) {
        Json settings = Json::object();
        for (const auto& setting : look.settings) {
            const std::string& name = setting.first;
            const std::string& value = setting.second;
            const auto p = std::find_if(params.begin(), params.end(), [&](const ParamInfo& q) { return q.name == name; });
            // A slider's value is the number the look file holds, digit for digit.
            const bool number = p != params.end() && p->kind == ParamInfo::Kind::Slider;
            const Json parsed = number ? Json::parse(value, nullptr, false) : Json();
            settings[name] = number && parsed.is_number() ? parsed : Json(value);
        }
        list.push_back({{"name", look.name}, {"file", look.file}, {"description", look.description},
                        {"parameters", std::move(settings)}});
    }
    return list.dump(2) + "\n";
}

std::string AboutJson(const std::string& about, const std::string& tool_version, const std::string& module) {
    // The name line ends at the first carriage return (or newline).
    const auto split = about.find_first_of("\r\n");
    std::string name = about.substr(0, split), description;
    if (split != std::string::npos) {
        std::size_t rest = split + 1;
        if (about[split] == '\r' && rest < about.size() && about[rest] == '\n') ++rest;
        description = about.substr(rest);
        for (char& c : description) {
            if (c == '\r') c = '\n';
        }
        while (!description.empty() && description.back() == '\n') description.pop_back();
    }
    Json j;
    j["name"] = name;
    j["description"] = description;
    j["module"] = module;
    j["velvetshade_version"] = tool_version;
    return j.dump(2) + "\n";
}

}  // namespace velvetshade

#include "cli/effect/look_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "cli/system/input_file.h"

namespace velvetshade {
namespace {

using nlohmann::json;

const char* const kTopKeys[] = {"format", "version", "name", "description", "parameters"};

// A key as the user wrote it, with control characters spelled out: an
// escape sequence in a file must not reach the terminal.
std::string Quoted(const std::string& s) {
    std::string text = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        auto u = static_cast<unsigned>(static_cast<unsigned char>(c));
        // C1 controls (U+0080..U+009F, "\xc2\x80".."\xc2\x9f") act on terminals too.
        const bool c1 = u == 0xc2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xe0) == 0x80;
        if (c1) u = static_cast<unsigned char>(s[++i]);
        if (u < 0x20 || u == 0x7f || c1) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            text += escaped;
        } else if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

// A look is two levels deep; anything past this is refused while parsing,
// before a message could try to quote it (which recurses once a level).
constexpr int kMaxLookDepth = 32;
// A look file is a few hundred bytes.
constexpr std::size_t kMaxLookBytes = 1 << 20;

struct LookSyntaxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses text, refusing nesting past kMaxLookDepth and a key given twice in
// one object (the library would keep the last silently).
json ParseBounded(std::string_view text) {
    std::vector<std::set<std::string>> keys;  // of each open object or list
    std::vector<std::string> owners;          // the key each was opened under
    std::string last_key;
    const json::parser_callback_t check = [&](int depth, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            if (depth >= kMaxLookDepth) {
                throw LookSyntaxError("nested deeper than " + std::to_string(kMaxLookDepth) +
                                      " levels; a look is an object of parameter values");
            }
            keys.emplace_back();
            owners.push_back(depth == 0 ? std::string() : last_key);
            last_key.clear();
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            if (!keys.empty()) keys.pop_back();
            if (!owners.empty()) owners.pop_back();
            break;
        case json::parse_event_t::key:
            last_key = parsed.get<std::string>();
            if (!keys.empty() && !keys.back().insert(last_key).second) {
                throw LookSyntaxError("the key " + Quoted(last_key) + " is given twice" +
                                      (owners.back().empty() ? std::string() : " in " + Quoted(owners.back())));
            }
            break;
        case json::parse_event_t::value:
            break;
        }
        return true;
    };
    return json::parse(text, check);
}

// A JSON value as the user wrote it, short enough for a message.
std::string Shown(const json& value) {
    // Every control character escaped, C1 ones too (ensure_ascii).
    std::string text = value.dump(-1, ' ', true);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

std::string TypeName(const json& value) {
    if (value.is_string()) return "text " + Shown(value);
    if (value.is_boolean()) return "true/false " + Shown(value);
    if (value.is_number()) return "the number " + Shown(value);
    if (value.is_null()) return "null";
    return std::string(value.is_array() ? "a list" : "an object");
}

std::string SettableNames(const std::vector<ParamInfo>& params) {
    std::string text;
    for (const auto& p : params) {
        if (p.kind == ParamInfo::Kind::Other) continue;
        text += (text.empty() ? "" : ", ") + Quoted(p.name);
    }
    return text;
}

std::string Items(const ParamInfo& p) {
    std::string text;
    for (const auto& item : p.items) text += (text.empty() ? "" : ", ") + Quoted(item);
    return text;
}

bool CheckParameter(const ParamInfo& p, const json& value, const std::string& where, ParamSetting& setting,
                    std::string& error) {
    if (p.kind == ParamInfo::Kind::Slider) {
        // true/false are not numbers here, though nlohmann would convert them.
        if (!value.is_number()) {
            error = where + " takes a number from " + FormatFloat(p.min) + " to " + FormatFloat(p.max) +
                    ", got " + TypeName(value);
            return false;
        }
        const double v = value.get<double>();
        // Compared at the 32-bit precision the range was registered with.
        const double rounded = double(float(v));
        if (!std::isfinite(v) || !(rounded >= p.min && rounded <= p.max)) {
            error = where + " must be between " + FormatFloat(p.min) + " and " + FormatFloat(p.max) +
                    ", got " + Shown(value);
            return false;
        }
        setting.value = FormatDouble(v);
    } else if (p.kind == ParamInfo::Kind::Popup) {
        const std::string* text = value.is_string() ? value.get_ptr<const std::string*>() : nullptr;
        bool known = false;
        for (const auto& item : p.items) known = known || (text && *text == item);
        if (!known) {
            error = where + " takes one of its items as text: " + Items(p) + "; got " + TypeName(value);
            return false;
        }
        setting.value = *text;
    } else {
        error = where + " cannot be set";
        return false;
    }
    setting.name = p.name;
    return true;
}

int IndexOf(const std::vector<ParamInfo>& params, const std::string& name) {
    for (const auto& p : params) {
        if (p.name == name) return p.index;
    }
    return 0;
}

}  // namespace

std::string ShownValue(const ParamInfo& param, const PF_ParamDef& value) {
    if (param.kind == ParamInfo::Kind::Popup) {
        const auto item = std::size_t(value.u.pd.value);
        if (item >= 1 && item <= param.items.size()) return param.items[item - 1];
        return std::to_string(value.u.pd.value);
    }
    return FormatDouble(value.u.fs_d.value);
}

bool ParseLook(std::string_view text, const std::string& source, const std::vector<ParamInfo>& params,
               Look& look, std::string& error) {
    look = Look{};
    json doc;
    try {
        doc = ParseBounded(text);
    } catch (const LookSyntaxError& e) {
        error = source + ": " + e.what();
        return false;
    } catch (const json::exception& e) {
        // A syntax error or a number past a double's range. The library's
        // message names the line and column; its prefix does not help.
        std::string why = e.what();
        if (const auto at = why.find("line "); at != std::string::npos) why = why.substr(at);
        error = source + ": not valid JSON: " + why;
        return false;
    }
    if (!doc.is_object()) {
        error = source + ": a look is a JSON object with the keys \"format\", \"version\" and \"parameters\"";
        return false;
    }
    for (const auto& [key, value] : doc.items()) {
        bool known = false;
        for (const char* k : kTopKeys) known = known || key == k;
        if (!known) {
            error = source + ": unknown key " + Quoted(key) +
                    "; a look has \"format\", \"version\", \"name\", \"description\" and \"parameters\"";
            return false;
        }
    }
    const auto format = doc.find("format");
    if (format == doc.end() || !format->is_string() || *format != kLookFormatName) {
        error = source + ": \"format\" must be " + Quoted(kLookFormatName) +
                (format == doc.end() ? ", and is missing" : ", got " + Shown(*format));
        return false;
    }
    const auto version = doc.find("version");
    if (version == doc.end() || !version->is_number_integer() || version->get<long long>() < 1) {
        error = source + ": \"version\" must be a whole number from 1 to " + std::to_string(kLookFormatVersion) +
                (version == doc.end() ? ", and is missing" : ", got " + Shown(*version));
        return false;
    }
    if (version->get<long long>() > kLookFormatVersion) {
        error = source + ": \"version\" " + Shown(*version) + " is newer than this velvetshade reads (up to " +
                std::to_string(kLookFormatVersion) + "); a newer velvetshade wrote it";
        return false;
    }
    for (const char* key : {"name", "description"}) {
        const auto it = doc.find(key);
        if (it == doc.end()) continue;
        if (!it->is_string()) {
            error = source + ": " + Quoted(key) + " takes text, got " + TypeName(*it);
            return false;
        }
        (key[0] == 'n' ? look.name : look.description) = it->get<std::string>();
    }
    const auto parameters = doc.find("parameters");
    if (parameters == doc.end() || !parameters->is_object()) {
        error = source + ": \"parameters\" must be an object of parameter names and values" +
                (parameters == doc.end() ? ", and is missing" : ", got " + TypeName(*parameters));
        return false;
    }
    for (const auto& [key, value] : parameters->items()) {
        const std::string where = source + ": \"parameters\"." + Quoted(key);
        const ParamInfo* param = nullptr;
        for (const auto& p : params) {
            if (p.name == key && p.kind != ParamInfo::Kind::Other) param = &p;
        }
        if (!param) {
            error = where + ": unknown parameter; the effect's parameters are " + SettableNames(params);
            return false;
        }
        ParamSetting setting;
        setting.spelling = where;
        if (!CheckParameter(*param, value, where, setting, error)) return false;
        look.settings.push_back(std::move(setting));
    }
    // In the module's order, however the file lists them.
    std::stable_sort(look.settings.begin(), look.settings.end(), [&](const ParamSetting& a, const ParamSetting& b) {
        return IndexOf(params, a.name) < IndexOf(params, b.name);
    });
    return true;
}

bool ReadLookFile(const std::filesystem::path& path, const std::vector<ParamInfo>& params, Look& look,
                  std::string& error) {
    // Opened as every input is: a FIFO or a device is refused, not waited on.
    std::string text;
    if (!ReadSmallInputFile(path, kMaxLookBytes, "the look", text, error)) return false;
    return ParseLook(text, path.string(), params, look, error);
}

std::string LookJson(const std::vector<ParamInfo>& params, const std::vector<PF_ParamDef>& values,
                     const std::string& name, const std::string& description) {
    // Keys in a reader's order: what it is, then what it does.
    nlohmann::ordered_json doc;
    doc["format"] = kLookFormatName;
    doc["version"] = kLookFormatVersion;
    if (!name.empty()) doc["name"] = name;
    if (!description.empty()) doc["description"] = description;
    nlohmann::ordered_json parameters = nlohmann::ordered_json::object();
    for (const auto& p : params) {
        if (std::size_t(p.index) >= values.size()) continue;
        const PF_ParamDef& v = values[std::size_t(p.index)];
        if (p.kind == ParamInfo::Kind::Slider) parameters[p.name] = v.u.fs_d.value;
        else if (p.kind == ParamInfo::Kind::Popup) parameters[p.name] = ShownValue(p, v);
    }
    doc["parameters"] = std::move(parameters);
    return doc.dump(2) + "\n";
}

}  // namespace velvetshade

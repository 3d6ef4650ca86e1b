// The module's parameters and its About text as JSON, for scripts.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/effect/effect_params.h"

namespace velvetshade {

// Each parameter as the module registered it: index, name, option, kind,
// range, default and items. Newline-terminated.
std::string ParamsJson(const std::vector<ParamInfo>& params);

// A named look as `velvetshade looks` lists it: its name, file, description
// and the settings it makes, sliders as numbers and pop-ups as item texts.
struct LookEntry {
    std::string name, file, description;
    std::vector<std::pair<std::string, std::string>> settings;  // registered name, value as the look spells it
};
// The looks as a JSON array; newline-terminated.
std::string LooksJson(const std::vector<LookEntry>& looks, const std::vector<ParamInfo>& params);

// about: the module's About message (name line, carriage return, description).
std::string AboutJson(const std::string& about, const std::string& tool_version, const std::string& module);

}  // namespace velvetshade

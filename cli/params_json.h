// The module's parameters and its About text as JSON, for scripts.
#pragma once

#include <string>
#include <vector>

#include "cli/effect_params.h"

namespace velvetshade {

// Each parameter as the module registered it: index, name, option, kind,
// range, default and items. Newline-terminated.
std::string ParamsJson(const std::vector<ParamInfo>& params);

// about: the module's About message (name line, carriage return, description).
std::string AboutJson(const std::string& about, const std::string& tool_version, const std::string& module);

}  // namespace velvetshade

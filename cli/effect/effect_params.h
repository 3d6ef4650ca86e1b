// The module's parameters as it registered them, and user settings applied to
// the host's parameter values by name. Nothing here knows which parameters
// the effect has: names, ranges, defaults and items all come from setup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "api/host_interface.h"

namespace velvetshade {

// A parameter value as the user wrote it, resolved later against the module.
struct ParamSetting {
    std::string name;      // registered name ("Vignetting Amount") or option name ("vignetting-amount")
    std::string value;
    std::string spelling;  // the argument as typed, for messages
};

struct ParamInfo {
    enum class Kind { Slider, Popup, Other };
    int index = 0;  // 1-based, as the host numbers them after the input layer
    std::string name;
    std::string option;  // --option spelling derived from the name
    Kind kind = Kind::Other;
    PF_ParamType type = 0;
    double min = 0, max = 0;          // valid range of a slider (32-bit floats as registered)
    double slider_min = 0, slider_max = 0;
    double default_value = 0;         // slider value or 1-based item
    int precision = 0;
    std::vector<std::string> items;   // pop-up items, item 1 first
};

// definitions: what add_param was handed, in call order.
std::vector<ParamInfo> DescribeParams(const std::vector<PF_ParamDef>& definitions);

// The parameter named name: its registered name in any case, or its option
// name however spelled ("Vignetting_Amount", "x process type"); null if none.
const ParamInfo* FindParam(const std::vector<ParamInfo>& params, std::string_view name);

// The 1-based item of a pop-up named by its text (any case) or its number;
// 0 if it has none such.
int PopupItem(const ParamInfo& p, std::string_view text);

// A pop-up's items for messages: "Normal, F.Zuiko (or 1-2)".
std::string ItemList(const ParamInfo& p);

// Sets values[p.index] (values as from Host::DefaultValues) for each setting;
// on the first unknown name, bad number, value outside the valid range or
// unknown item, false with a message that names what is allowed.
bool ApplySettings(const std::vector<ParamInfo>& params, const std::vector<ParamSetting>& settings,
                   std::vector<PF_ParamDef>& values, std::string& error);

// Whole-string integer parse, no sign games, no trailing text.
bool ParseInt(std::string_view text, long long& value);
// Whole-string finite decimal number, with an optional leading '+'.
bool ParseNumber(std::string_view text, double& value);

// Lower case, every run of other characters turned into one '-':
// "X-Process Type" becomes "x-process-type".
std::string OptionName(std::string_view parameter_name);

// The listing printed by "velvetshade params".
std::string FormatParams(const std::vector<ParamInfo>& params);

// Shortest text that reads back as the same 32-bit float ("0.1", not 0.100000001).
std::string FormatFloat(double value);
// Every digit that reads back as the same double.
std::string FormatDouble(double value);

}  // namespace velvetshade

// Looks kept in files: JSON with a format version and the effect's parameters
// by their registered names, pop-ups by item text. A look is checked against
// the parameters the loaded module registers, never against a list of ours.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/effect/effect_params.h"

namespace velvetshade {

// The newest format this build reads and the one it writes.
inline constexpr int kLookFormatVersion = 1;
inline constexpr const char* kLookFormatName = "velvetshade look";

struct Look {
    std::string name;         // optional in a file; named looks have one
    std::string description;  // one line
    // Registered name and value, the value spelled as ApplySettings reads it
    // (a slider's number with every digit, a pop-up's item text). Parameters
    // a look leaves out keep their registered defaults.
    std::vector<ParamSetting> settings;
};

// Parses and checks a look; source names the file in messages. On failure,
// false and a message that names the offending key and what it allows.
bool ParseLook(std::string_view text, const std::string& source, const std::vector<ParamInfo>& params,
               Look& look, std::string& error);
bool ReadLookFile(const std::filesystem::path& path, const std::vector<ParamInfo>& params, Look& look,
                  std::string& error);

// The look file of the values (as the host holds them) of every settable
// parameter, newline-terminated.
std::string LookJson(const std::vector<ParamInfo>& params, const std::vector<PF_ParamDef>& values,
                     const std::string& name = {}, const std::string& description = {});

// "E6C41", 170, -35.25: the value as a look file or a listing shows it.
std::string ShownValue(const ParamInfo& param, const PF_ParamDef& value);

}  // namespace velvetshade

// What Lanthorn tells a host about itself, in one place: the registration
// export, the property list, global setup and the About text all read it.
// The build reads the three version numbers below from this file (the lines
// "kVersion... = N;"), so they keep that form.
#pragma once

#include <cstdint>

#include "api/host_interface.h"

namespace lanthorn::identity {

// The effect's name as the property list and the About text show it; the
// registration callback is handed kRegisteredName instead.
inline constexpr char kEffectName[] = "Velvetshade";
inline constexpr char kDescription[] = "Quillfern Velvetshade";
inline constexpr char kRegisteredName[] = "Lanthorn";
inline constexpr char kMatchName[] = "BRVN VS";
inline constexpr char kCategory[] = "Brevanor";
inline constexpr char kEntryPointName[] = "EffectMain";
inline constexpr char kKind[] = "eFKT";  // an effect

// Version 1.0.0, development stage, build 1.
inline constexpr std::uint32_t kVersionMajor = 1;
inline constexpr std::uint32_t kVersionMinor = 0;
inline constexpr std::uint32_t kVersionFix = 0;
inline constexpr std::uint32_t kVersionStage = PF_Stage_DEVELOP;
inline constexpr std::uint32_t kVersionBuild = 1;
inline constexpr std::uint32_t kVersionWord =
    PF_Version(kVersionMajor, kVersionMinor, kVersionFix, kVersionStage, kVersionBuild);
static_assert(kVersionWord == 0x00080001);

// The About text: "<name> v<major>.<minor>\r<description>".
inline constexpr char kAboutFormat[] = "%s v%d.%d\r%s";
inline constexpr int kAboutMajor = static_cast<int>(kVersionMajor);
inline constexpr int kAboutMinor = static_cast<int>(kVersionMinor);

// The effect API the module is written against.
inline constexpr std::int32_t kApiVersionMajor = 13;
inline constexpr std::int32_t kApiVersionMinor = 25;
inline constexpr std::int32_t kReservedInfo = 8;

// Deep colour aware: 16 bits per channel as well as 8. No second flag word.
inline constexpr PF_OutFlags kOutFlags = PF_OutFlag_DEEP_COLOR_AWARE;
inline constexpr std::uint32_t kOutFlags2 = 0;
static_assert(kOutFlags == 0x02000000);

}  // namespace lanthorn::identity

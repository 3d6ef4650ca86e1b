// The effect's texts: its name and description, then each parameter's name
// followed, for a pop-up, by its item list, addressed by StrID.
#pragma once

#include <cstddef>
#include <cstdint>

#include "look/parameter_table.h"

namespace lanthorn {

enum StrID : std::int32_t {
    STR_NONE = 0,
    STR_NAME,
    STR_DESCRIPTION,
    STR_VIGNETTE_RADIUS,  // the first parameter's name
    STR_VIGNETTE_AMOUNT,
    STR_DODGE,
    STR_COLOR,
    STR_COLOR_TYPE,
    STR_COLOR_TYPE_ITEMS,
    STR_CONTRAST,
    STR_BRIGHTNESS,
    STR_XPROCESS,
    STR_XPROCESS_TYPE,
    STR_XPROCESS_TYPE_ITEMS,
    STR_LENS_TYPE,
    STR_LENS_TYPE_ITEMS,
};

// The fixed entries, then one per parameter and one more per pop-up.
constexpr std::int32_t CountStrings() {
    std::int32_t n = STR_VIGNETTE_RADIUS;
    for (const look::ParameterRow& row : look::kParameters) {
        n += row.kind == look::ParameterKind::kPopup ? 2 : 1;
    }
    return n;
}
inline constexpr std::int32_t STR_COUNT = CountStrings();


struct StringEntry {
    std::int32_t id;  // equals the entry's position
    char text[256];   // NUL-terminated, zero after the terminator
};

// The entry's text; valid for as long as the module is loaded. An id outside
// the table yields the empty entry 0 rather than a read past the table.
const char* LookupString(StrID id);

// The entries of the parameter table's row: its name and, for a pop-up, its
// item list (STR_NONE for a slider).
StrID ParameterNameId(std::size_t row);
StrID ParameterItemsId(std::size_t row);

}  // namespace lanthorn

// The effect's texts: its name and description, the parameter names and the
// pop-up item lists, addressed by StrID.
#pragma once

#include <cstdint>

enum StrID : std::int32_t {
    STR_NONE = 0,
    STR_NAME,
    STR_DESCRIPTION,
    STR_VIGNETTE_RADIUS,
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
    STR_COUNT
};

struct StringEntry {
    std::int32_t id;  // equals the entry's position
    char text[256];   // NUL-terminated, zero after the terminator
};

// The entry's text; valid for as long as the module is loaded. An id outside
// the table yields the empty entry 0 rather than a read past the table.
const char* LookupString(StrID id);

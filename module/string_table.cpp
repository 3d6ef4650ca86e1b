#include "module/string_table.h"

#include <string_view>

namespace {

constexpr StringEntry kStringTable[STR_COUNT] = {
    {STR_NONE, ""},
    {STR_NAME, "Velvetshade"},
    {STR_DESCRIPTION, "Quillfern Velvetshade"},
    {STR_VIGNETTE_RADIUS, "Vignetting Radius"},
    {STR_VIGNETTE_AMOUNT, "Vignetting Amount"},
    {STR_DODGE, "Dodge"},
    {STR_COLOR, "Color"},
    {STR_COLOR_TYPE, "Color Type"},
    {STR_COLOR_TYPE_ITEMS, "Type1|Type2"},
    {STR_CONTRAST, "Contrast"},
    {STR_BRIGHTNESS, "Brightness"},
    {STR_XPROCESS, "X-Process"},
    {STR_XPROCESS_TYPE, "X-Process Type"},
    {STR_XPROCESS_TYPE_ITEMS, "Type1|Type2|Type3|Type4|Type5|E6C41|BW|Vintage"},
    {STR_LENS_TYPE, "Lens Type"},
    {STR_LENS_TYPE_ITEMS, "Normal|F.Zuiko|Expired Film|Warm Lens"},
};

constexpr bool IdsArePositions() {
    for (std::int32_t i = 0; i < STR_COUNT; ++i) {
        if (kStringTable[i].id != i) return false;
    }
    return true;
}
static_assert(IdsArePositions());

// Parameter names go into the host's 32-byte name field.
constexpr bool NamesFitParamField() {
    for (StrID id : {STR_VIGNETTE_RADIUS, STR_VIGNETTE_AMOUNT, STR_DODGE, STR_COLOR,
                     STR_COLOR_TYPE, STR_CONTRAST, STR_BRIGHTNESS, STR_XPROCESS,
                     STR_XPROCESS_TYPE, STR_LENS_TYPE}) {
        if (std::string_view(kStringTable[id].text).size() > 31) return false;
    }
    return true;
}
static_assert(NamesFitParamField());

// "<name> v1.0\r<description>" and its NUL must fit the 256-byte return_msg.
static_assert(std::string_view(kStringTable[STR_NAME].text).size() + 6 +
                  std::string_view(kStringTable[STR_DESCRIPTION].text).size() + 1 <=
              256);

}  // namespace

const char* LookupString(StrID id) {
    if (id < 0 || id >= STR_COUNT) return kStringTable[STR_NONE].text;
    return kStringTable[id].text;
}

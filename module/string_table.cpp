#include "module/string_table.h"

#include <array>
#include <string_view>

#include "look/parameter_table.h"
#include "module/module_identity.h"

namespace lanthorn {

namespace {

using look::kParameterCount;
using look::kParameters;

// Position of each row's name: after the fixed entries, each row takes one
// entry and a pop-up a second for its items.
constexpr std::int32_t NameIdOf(std::size_t row) {
    std::int32_t id = STR_VIGNETTE_RADIUS;
    for (std::size_t i = 0; i < row; ++i) {
        id += kParameters[i].kind == look::ParameterKind::kPopup ? 2 : 1;
    }
    return id;
}

constexpr std::int32_t ItemsIdOf(std::size_t row) {
    return kParameters[row].kind == look::ParameterKind::kPopup ? NameIdOf(row) + 1 : STR_NONE;
}


constexpr StringEntry Entry(std::int32_t id, std::string_view text) {
    StringEntry entry{id, {}};
    for (std::size_t i = 0; i < text.size() && i + 1 < sizeof entry.text; ++i) {
        entry.text[i] = text[i];
    }
    return entry;
}

constexpr std::array<StringEntry, STR_COUNT> BuildStringTable() {
    std::array<StringEntry, STR_COUNT> table{};
    table[STR_NONE] = Entry(STR_NONE, "");
    table[STR_NAME] = Entry(STR_NAME, identity::kEffectName);
    table[STR_DESCRIPTION] = Entry(STR_DESCRIPTION, identity::kDescription);
    for (std::size_t row = 0; row < kParameterCount; ++row) {
        table[NameIdOf(row)] = Entry(NameIdOf(row), kParameters[row].name);
        if (kParameters[row].items != nullptr) {
            table[ItemsIdOf(row)] = Entry(ItemsIdOf(row), kParameters[row].items);
        }
    }
    return table;
}

constexpr std::array<StringEntry, STR_COUNT> kStringTable = BuildStringTable();

constexpr bool IdsArePositions() {
    for (std::int32_t i = 0; i < STR_COUNT; ++i) {
        if (kStringTable[i].id != i) return false;
    }
    return true;
}
static_assert(IdsArePositions());

// Every text fits with its terminator: nothing was cut by Entry.
constexpr bool TextsFit() {
    if (std::string_view(identity::kEffectName).size() > 255 ||
        std::string_view(identity::kDescription).size() > 255) {
        return false;
    }
    for (const look::ParameterRow& row : kParameters) {
        if (row.items != nullptr && std::string_view(row.items).size() > 255) return false;
    }
    return true;
}
static_assert(TextsFit());

// The named entries are where the rows put them.
static_assert(NameIdOf(4) == STR_COLOR_TYPE && ItemsIdOf(4) == STR_COLOR_TYPE_ITEMS);
static_assert(NameIdOf(8) == STR_XPROCESS_TYPE && ItemsIdOf(8) == STR_XPROCESS_TYPE_ITEMS);
static_assert(NameIdOf(9) == STR_LENS_TYPE && ItemsIdOf(9) == STR_LENS_TYPE_ITEMS);

// "<name> v1.0\r<description>" and its NUL must fit the 256-byte return_msg.
static_assert(std::string_view(kStringTable[STR_NAME].text).size() + 6 +
                  std::string_view(kStringTable[STR_DESCRIPTION].text).size() + 1 <=
              256);

}  // namespace

const char* LookupString(StrID id) {
    if (id < 0 || id >= STR_COUNT) return kStringTable[STR_NONE].text;
    return kStringTable[id].text;
}

StrID ParameterNameId(std::size_t row) { return static_cast<StrID>(NameIdOf(row)); }

StrID ParameterItemsId(std::size_t row) { return static_cast<StrID>(ItemsIdOf(row)); }

}  // namespace lanthorn

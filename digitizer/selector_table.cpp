#include "selector_table.h"

#include <array>

namespace pramble {
namespace {

constexpr std::uint8_t descriptorFor(int parameters) { return std::uint8_t(4 * (1 + parameters)); }

struct Tables {
    std::array<SelectorEntry, kComponentSelectors> component{};
    std::array<SelectorEntry, kRangeZeroSelectors> rangeZero{};
};

constexpr Tables buildTables() {
    Tables tables;
#define PRAMBLE_FILL_ENTRY(selector, name, parameters)                                               \
    if constexpr ((selector) < 0) {                                                                   \
        tables.component[(selector) + kComponentSelectors] = {Request::name, descriptorFor(parameters)}; \
    } else {                                                                                          \
        tables.rangeZero[(selector)] = {Request::name, descriptorFor(parameters)};                    \
    }
    PRAMBLE_REQUESTS(PRAMBLE_FILL_ENTRY)
#undef PRAMBLE_FILL_ENTRY
    return tables;
}

constexpr Tables kTables = buildTables();

}  // namespace

SelectorEntry lookUpSelector(std::int16_t selector) {
    if (selector < 0) {
        if (selector < -kComponentSelectors) return {};
        return kTables.component[selector + kComponentSelectors];
    }
    const int range = selector >> 8;
    const int index = selector & 0xFF;
    if (range != 0 || index >= kRangeZeroSelectors) return {};
    return kTables.rangeZero[index];
}

bool canDo(std::int16_t selector) {
    const SelectorEntry entry = lookUpSelector(selector);
    return entry.request != Request::None && entry.descriptor != 0;
}

}  // namespace pramble

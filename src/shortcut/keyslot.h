#pragma once
// The key cap size of a key function row's key slots, and when two caps stand for the same key.
#include "widget/keybtn.h"

namespace keyslot {

constexpr int Width = 40;
constexpr int Height = 38;

inline bool sameKey(const KeyBtn* a, const KeyBtn* b)
{
    return a->code == b->code && a->type == b->type && a->stype == b->stype;
}

} // namespace keyslot

#pragma once
// The categories as the list editor sees them: the shared facts (captions, stored form) under
// the names the editor uses, and what only the editor knows: how many items Add allows and
// where each category's frame sits on the main window.

#include "platform/facts/Categories.h"
#include "platform/facts/Settings.h"

namespace lists {

using facts::kCategoryCaptions;
using facts::kCategoryCount;
using facts::kItemSeparator;
using facts::kSettingsApplication;
using facts::kSettingsSection;
using facts::settingsKey;

// What the Add command allows; a list restored from the store may hold more.
constexpr int kMaxItemsByAdd = 20;

// Frame geometry in twips: five columns, three rows.
constexpr int kFrameWidth = 2520;
constexpr int kFrameHeight = 2380;
constexpr int frameLeft(int index) { return 120 + 2640 * (index % 5); }
constexpr int frameTop(int index) { return 1140 + 2460 * (index / 5); }

} // namespace lists

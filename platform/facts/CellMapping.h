#pragma once
// Where the generation run writes item k of category i on the template's sheet:
// five bands of three blocks, items 1 to 10 in the left half (columns A to F),
// 11 to 20 in the right half (H to M). Rows and columns count from 1.

namespace facts {

constexpr int kItemsPerHalf = 10;
// The template has room for twenty items a category; more would land in the next band.
constexpr int kItemsOnSheet = 20;

// First item row of category i's band: 3, 14, 25, 36 or 47.
constexpr int bandStartRow(int category) { return 3 + 11 * (category / 3); }

struct ItemCells {
    int row;
    int numberColumn;
    int textColumn;
};

constexpr ItemCells itemCells(int category, int k)
{
    const int group = category % 3;
    if (k < kItemsPerHalf)
        return {bandStartRow(category) + k, 2 * group + 1, 2 * group + 2};
    return {bandStartRow(category) + (k - kItemsPerHalf), 2 * group + 8, 2 * group + 9};
}

static_assert(itemCells(0, 0).row == 3 && itemCells(0, 0).numberColumn == 1 && itemCells(0, 0).textColumn == 2);
static_assert(itemCells(14, 19).row == 56 && itemCells(14, 19).numberColumn == 12 && itemCells(14, 19).textColumn == 13);
static_assert(itemCells(4, 10).row == 14 && itemCells(4, 10).numberColumn == 10);

} // namespace facts

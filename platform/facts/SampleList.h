#pragma once
// The sample list the main window's Sample command loads; the render tool, the benchmarks
// and the tests fill the template with the same items.

namespace facts {

// line: the numbered line of the command that appends the item (a failure there reports
// it); category: 0-14.
struct SampleItem {
    int line;
    int category;
    const char *text;
};

inline constexpr SampleItem kSampleItems[] = {
    {102, 0, "Turkey"},           {104, 0, "Haddock"},          {106, 1, "Green Beans"},
    {108, 1, "Yellow Beans"},     {110, 1, "Butternut Squash"}, {112, 1, "Parsnips"},
    {114, 2, "Milk"},             {116, 3, "Almond Milk"},      {118, 4, "Tuna"},
    {120, 4, "Canned Tomatoes"},  {122, 5, "Frozen Peas"},      {124, 6, "Basil"},
    {126, 6, "Garlic"},           {128, 6, "Morton Seasoning"}, {130, 7, "Coke"},
    {132, 9, "Ziplock Bag Quart"}, {134, 10, "Allegra"},        {136, 11, "Toothpaste"},
    {138, 12, "Captain Crunch"},  {140, 13, "Devil Dogs"},      {142, 14, "Paper Towels"},
    {144, 14, "Tissues"},         {146, 14, "Toilet Paper"},    {148, 14, "Garbage Bags"},
};

} // namespace facts

#include "CMapStringToOb.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
class Tagged : public CObject
{
public:
    explicit Tagged(int n) : tag(n) {}
    int tag;
};

std::vector<int> Walk(const CMapStringToOb& map)
{
    std::vector<int> tags;
    for (CObject* object : map.Values())
        tags.push_back(static_cast<Tagged*>(object)->tag);
    return tags;
}

// The collection deletes printers while it walks them, and saves them in this order.
TEST(MapStringToOb, WalksInInsertionOrderAndSurvivesRemovingTheEntryInHand)
{
    Tagged a(1), b(2), c(3);
    CMapStringToOb map;
    map.SetAt("b", &b);
    map.SetAt("a", &a);
    map.SetAt("c", &c);
    map.SetAt("b", &b);
    EXPECT_EQ(Walk(map), (std::vector<int>{2, 1, 3}));

    std::vector<int> seen;
    for (CObject* object : map.Values())
    {
        int tag = static_cast<Tagged*>(object)->tag;
        seen.push_back(tag);
        map.RemoveKey(tag == 1 ? "a" : tag == 2 ? "b" : "c");
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 1, 3}));
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_TRUE(Walk(map).empty());
}
} // namespace

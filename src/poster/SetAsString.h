// The page set: page numbers held as sorted closed ranges that never touch, readable and
// writable as text ("1-3,5,7-9") and as an ascending array. Any 32-bit number may be a
// member; the set does not know the page count.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tilvorn {

using TIntArray = std::vector<int32_t>;

class TSetAsString {
public:
    struct RangeNode {
        int32_t Low = 0;
        int32_t High = 0;
        std::unique_ptr<RangeNode> Next;
    };

    TSetAsString() = default;
    ~TSetAsString();
    TSetAsString(const TSetAsString&) = delete;
    TSetAsString& operator=(const TSetAsString&) = delete;

    void Clear();
    /// The number of members (64-bit: one range may hold more than 2^31 numbers).
    int64_t Count() const;
    bool Contains(int32_t a) const;
    void Include(int32_t a);
    void Exclude(int32_t a);
    /// Adds every number from low to high; nothing when high < low.
    void IncludeRange(int32_t low, int32_t high);
    /// Drops empty ranges and merges neighbours that touch or overlap.
    void Normalize();
    /// Adds what a page list names; items that are not numbers or ranges are dropped.
    void AddFromString(std::string_view text);
    void AddFromArray(const TIntArray& values);

    std::string AsString() const;
    void SetAsString(std::string_view text);
    TIntArray AsArray() const;
    /// Calls visit(first, last) for each range of members clipped to [low, high], ascending.
    /// Output walks pages this way, so a list like 1-2000000000 never becomes an array.
    void ForEachRangeWithin(int32_t low, int32_t high, const std::function<void(int32_t, int32_t)>& visit) const;
    /// The members from low to high, ascending, gathered range by range: the pages of a poster
    /// of high pages.
    TIntArray AsArrayWithin(int32_t low, int32_t high) const;
    /// How many members lie from low to high.
    int64_t CountWithin(int32_t low, int32_t high) const;
    void SetAsArray(const TIntArray& values);

    /// The ranges after the sentinel, for inspection.
    const RangeNode* First() const { return Head.Next.get(); }

private:
    void InsertAfter(RangeNode* node, int32_t low, int32_t high);

    /// Sentinel before the first range; never a part of the set.
    RangeNode Head;
};

}  // namespace tilvorn

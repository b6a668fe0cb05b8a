#include "poster/SetAsString.h"

#include <algorithm>

#include "core/IntText.h"

namespace tilvorn {

TSetAsString::~TSetAsString() { Clear(); }

void TSetAsString::Clear() {
    // Unlink one node at a time so a long list is not released by deep recursion.
    while (Head.Next) Head.Next = std::move(Head.Next->Next);
}

int64_t TSetAsString::Count() const {
    int64_t count = 0;
    for (const RangeNode* r = First(); r; r = r->Next.get()) count += int64_t{r->High} - r->Low + 1;
    return count;
}

bool TSetAsString::Contains(int32_t a) const {
    for (const RangeNode* r = First(); r && a >= r->Low; r = r->Next.get())
        if (a <= r->High) return true;
    return false;
}

void TSetAsString::InsertAfter(RangeNode* node, int32_t low, int32_t high) {
    auto inserted = std::make_unique<RangeNode>();
    inserted->Low = low;
    inserted->High = high;
    inserted->Next = std::move(node->Next);
    node->Next = std::move(inserted);
}

void TSetAsString::Include(int32_t a) {
    // Differences are taken in 64 bits: members may lie far apart at both ends of the range.
    RangeNode* passed = &Head;
    for (RangeNode* r = Head.Next.get(); r; r = r->Next.get()) {
        if (a < r->Low) {
            if (int64_t{r->Low} - a == 1) {
                r->Low = a;
                Normalize();
                return;
            }
            break;
        }
        if (a <= r->High) return;
        passed = r;
        if (int64_t{a} - r->High == 1) {
            r->High = a;
            Normalize();
            return;
        }
    }
    InsertAfter(passed, a, a);
    Normalize();
}

void TSetAsString::IncludeRange(int32_t low, int32_t high) {
    if (high < low) return;
    RangeNode* passed = &Head;
    while (passed->Next && passed->Next->Low <= low) passed = passed->Next.get();
    InsertAfter(passed, low, high);
    Normalize();
}

void TSetAsString::Exclude(int32_t a) {
    RangeNode* previous = &Head;
    for (RangeNode* r = Head.Next.get(); r; previous = r, r = r->Next.get()) {
        if (a < r->Low) return;
        if (r->High < a) continue;
        if (r->Low == r->High) {
            // Unlinked rather than emptied: stepping past a bound could leave the int range.
            previous->Next = std::move(r->Next);
            return;
        }
        if (a == r->Low)
            ++r->Low;
        else if (a == r->High)
            --r->High;
        else {
            InsertAfter(r, a + 1, r->High);
            r->High = a - 1;
        }
        Normalize();
        return;
    }
}

void TSetAsString::Normalize() {
    RangeNode* previous = &Head;
    while (RangeNode* r = previous->Next.get()) {
        if (r->High < r->Low) {
            previous->Next = std::move(r->Next);
            continue;
        }
        // Merge followers that begin at or before the first number after this range.
        while (r->Next && int64_t{r->Next->Low} <= int64_t{r->High} + 1) {
            if (r->Next->High > r->High) r->High = r->Next->High;
            r->Next = std::move(r->Next->Next);
        }
        previous = r;
    }
}

void TSetAsString::AddFromString(std::string_view text) {
    std::string rest = std::string(text) + ",";
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string item = rest.substr(0, comma);
        rest.erase(0, comma + 1);
        size_t dash = item.find('-');
        if (dash == std::string::npos) {
            if (auto value = ParseIntText(item)) Include(*value);
            continue;
        }
        auto low = ParseIntText(std::string_view(item).substr(0, dash));
        auto high = ParseIntText(std::string_view(item).substr(dash + 1));
        // The range goes in whole: a list like 1-2000000000 must not add numbers one by one.
        if (low && high) IncludeRange(*low, *high);
    }
}

void TSetAsString::AddFromArray(const TIntArray& values) {
    for (int32_t value : values) Include(value);
}

std::string TSetAsString::AsString() const {
    std::string text;
    for (const RangeNode* r = First(); r; r = r->Next.get()) {
        text += "," + std::to_string(r->Low);
        if (r->Low < r->High) text += "-" + std::to_string(r->High);
    }
    if (!text.empty()) text.erase(0, 1);
    return text;
}

void TSetAsString::SetAsString(std::string_view text) {
    Clear();
    AddFromString(text);
}

TIntArray TSetAsString::AsArray() const {
    TIntArray values;
    values.reserve(static_cast<size_t>(Count()));
    for (const RangeNode* r = First(); r; r = r->Next.get())
        for (int64_t v = r->Low; v <= r->High; ++v) values.push_back(static_cast<int32_t>(v));
    return values;
}

void TSetAsString::ForEachRangeWithin(int32_t low, int32_t high,
                                      const std::function<void(int32_t, int32_t)>& visit) const {
    for (const RangeNode* r = First(); r && r->Low <= high; r = r->Next.get())
        if (r->High >= low) visit(std::max(r->Low, low), std::min(r->High, high));
}

TIntArray TSetAsString::AsArrayWithin(int32_t low, int32_t high) const {
    TIntArray values;
    values.reserve(static_cast<size_t>(CountWithin(low, high)));
    ForEachRangeWithin(low, high, [&](int32_t first, int32_t last) {
        for (int64_t v = first; v <= last; ++v) values.push_back(static_cast<int32_t>(v));
    });
    return values;
}

int64_t TSetAsString::CountWithin(int32_t low, int32_t high) const {
    int64_t count = 0;
    ForEachRangeWithin(low, high, [&](int32_t first, int32_t last) { count += int64_t{last} - first + 1; });
    return count;
}

void TSetAsString::SetAsArray(const TIntArray& values) {
    Clear();
    AddFromArray(values);
}

}  // namespace tilvorn

// Builds small TIFF files entry by entry, for the cases no tool writes on purpose (tags out
// of order, short lists, strips cut off by the end of the file).
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

namespace tilvorn::test {

class TIFFBuilder {
public:
    explicit TIFFBuilder(bool bigEndian = false) : big_(bigEndian) {}

    /// Adds an entry whose values are SHORTs (type 3) or LONGs (type 4).
    TIFFBuilder& Integers(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
        entries_.push_back({tag, type, std::move(values), {}});
        return *this;
    }
    TIFFBuilder& Short(uint16_t tag, uint32_t value) { return Integers(tag, 3, {value}); }
    TIFFBuilder& Long(uint16_t tag, uint32_t value) { return Integers(tag, 4, {value}); }
    /// A RATIONAL value.
    TIFFBuilder& Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
        entries_.push_back({tag, 5, {numerator, denominator}, {}});
        return *this;
    }
    /// Strip data, laid out after the directory; StripOffsets is filled in by Build.
    TIFFBuilder& Strip(std::vector<uint8_t> bytes) {
        strips_.push_back(std::move(bytes));
        return *this;
    }
    /// Writes the directory entries in the order they were added (not sorted).
    TIFFBuilder& KeepOrder() {
        sorted_ = false;
        return *this;
    }

    /// The file: header, directory, values that do not fit an entry, then the strips.
    /// StripOffsets (tag 273) is written as LONGs pointing at the strips.
    std::vector<uint8_t> Build() const {
        std::vector<Entry> entries = entries_;
        entries.push_back({273, 4, std::vector<uint32_t>(strips_.size(), 0), {}});
        if (sorted_)
            std::stable_sort(entries.begin(), entries.end(),
                             [](const Entry& a, const Entry& b) { return a.Tag < b.Tag; });
        std::vector<uint8_t> out;
        Put(out, big_ ? 0x4D4D : 0x4949, 2, false);
        Put(out, 42, 2);
        Put(out, 8, 4);
        const size_t dirSize = 2 + entries.size() * 12 + 4;
        size_t extra = 8 + dirSize;
        std::vector<uint8_t> extraBytes;
        // Strips come after the out-of-line values; compute where they start first.
        size_t valuesSize = 0;
        for (const Entry& e : entries)
            if (ValueBytes(e) > 4) valuesSize += ValueBytes(e);
        size_t stripAt = extra + valuesSize;
        std::vector<uint32_t> stripOffsets;
        for (const auto& s : strips_) {
            stripOffsets.push_back(uint32_t(stripAt));
            stripAt += s.size();
        }
        Put(out, entries.size(), 2);
        for (Entry& e : entries) {
            if (e.Tag == 273) e.Values = stripOffsets;
            Put(out, e.Tag, 2);
            Put(out, e.Type, 2);
            Put(out, e.Type == 5 ? e.Values.size() / 2 : e.Values.size(), 4);
            std::vector<uint8_t> bytes;
            for (uint32_t v : e.Values) Put(bytes, v, e.Type == 3 ? 2 : 4);
            if (bytes.size() <= 4) {
                bytes.resize(4, 0);
                out.insert(out.end(), bytes.begin(), bytes.end());
            } else {
                Put(out, extra + extraBytes.size(), 4);
                extraBytes.insert(extraBytes.end(), bytes.begin(), bytes.end());
            }
        }
        Put(out, 0, 4);
        out.insert(out.end(), extraBytes.begin(), extraBytes.end());
        for (const auto& s : strips_) out.insert(out.end(), s.begin(), s.end());
        return out;
    }

private:
    struct Entry {
        uint16_t Tag;
        uint16_t Type;
        std::vector<uint32_t> Values;
        std::vector<uint8_t> Unused;
    };

    static size_t ValueBytes(const Entry& e) { return e.Values.size() * (e.Type == 3 ? 2 : 4); }

    void Put(std::vector<uint8_t>& out, uint64_t value, int bytes, bool ordered = true) const {
        for (int i = 0; i < bytes; ++i) {
            int shift = (ordered && big_) ? 8 * (bytes - 1 - i) : 8 * i;
            out.push_back(uint8_t(value >> shift));
        }
    }

    bool big_;
    bool sorted_ = true;
    std::vector<Entry> entries_;
    std::vector<std::vector<uint8_t>> strips_;
};

}  // namespace tilvorn::test

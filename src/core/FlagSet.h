// A small set of flags kept in one byte, the members of an enumeration whose values are the
// bit positions (as the file formats and the readers' records store them).
#pragma once
#include <cstdint>
#include <initializer_list>

namespace tilvorn {

template <typename Flag>
class FlagSet {
public:
    constexpr FlagSet() = default;
    constexpr FlagSet(std::initializer_list<Flag> flags) {
        for (Flag flag : flags) Include(flag);
    }
    static constexpr FlagSet FromBits(uint8_t bits) {
        FlagSet set;
        set.bits_ = bits;
        return set;
    }

    constexpr bool Contains(Flag flag) const { return (bits_ & Bit(flag)) != 0; }
    constexpr void Include(Flag flag) { bits_ = static_cast<uint8_t>(bits_ | Bit(flag)); }
    constexpr void Exclude(Flag flag) { bits_ = static_cast<uint8_t>(bits_ & ~Bit(flag)); }
    constexpr void Set(Flag flag, bool on) { on ? Include(flag) : Exclude(flag); }
    constexpr void Clear() { bits_ = 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint8_t Bits() const { return bits_; }

    constexpr bool operator==(const FlagSet&) const = default;

private:
    static constexpr uint8_t Bit(Flag flag) { return static_cast<uint8_t>(1u << static_cast<unsigned>(flag)); }
    uint8_t bits_ = 0;
};

}  // namespace tilvorn

#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "syntax/CharacterClass.h"

namespace vellumtag {

// An integer written as text, read the way the C library's strtol family reads one (ISO C,
// 7.22.1.4): white space of the "C" locale, one optional sign, then the digits of the base up
// to the first other character. It is the reader's one integer reader; its callers differ only
// in how they turn what was read into a value (toUnsigned, toInt32, or a check of magnitude).
class IntegerText {
public:
    // Reads the integer at text[pos] and moves pos past its digits; pos stays where it was when
    // there are none, as strtol leaves its end pointer.
    // Text is any contiguous run of characters: bytes, char or char16_t.
    template <class Text>
    static IntegerText read(const Text &text, std::size_t &pos, unsigned base = 10) {
        using Char = std::remove_cvref_t<decltype(text[0])>;
        IntegerText number;
        std::size_t i = pos;
        while (i < text.size() && characters::kCSpace.contains(text[i]))
            ++i;
        if (i < text.size() && (text[i] == Char('-') || text[i] == Char('+'))) {
            number._negative = text[i] == Char('-');
            ++i;
        }
        number._digitsAt = i;
        const std::size_t digits = number.appendDigits(text, base, i);
        if (digits != 0)
            pos = i + digits;
        return number;
    }

    // Appends the digits at text[from] on, without blanks or sign, to the magnitude read so
    // far, and returns how many there were. Digits beyond 64 bits leave the magnitude at its
    // largest value and mark it as exceeding every maximum.
    template <class Text>
    std::size_t appendDigits(const Text &text, unsigned base = 10, std::size_t from = 0) {
        std::size_t count = 0;
        for (std::size_t i = from; i < text.size(); ++i) {
            const int digit = digitValue(text[i], base);
            if (digit < 0)
                break;
            std::uint64_t next = 0;
            if (__builtin_mul_overflow(_magnitude, std::uint64_t{base}, &next) ||
                __builtin_add_overflow(next, static_cast<std::uint64_t>(digit), &next)) {
                _overflow = true;
                _magnitude = UINT64_MAX;
            } else {
                _magnitude = next;
            }
            ++count;
        }
        _digits += count;
        return count;
    }

    bool hasDigits() const { return _digits != 0; }
    bool negative() const { return _negative; }
    // Where the digits begin, after blanks and sign; the text's end there means it ended early.
    std::size_t digitsAt() const { return _digitsAt; }
    // True when the magnitude is beyond maximum.
    bool exceeds(std::uint64_t maximum) const { return _overflow || _magnitude > maximum; }
    std::uint64_t magnitude() const { return _magnitude; }

    // As strtoul converts at a width whose largest value is maximum (UINT32_MAX, UINT64_MAX):
    // a magnitude beyond it saturates whatever the sign; otherwise a minus sign negates modulo
    // maximum + 1, so that "-1" gives maximum.
    std::uint64_t toUnsigned(std::uint64_t maximum) const {
        if (exceeds(maximum))
            return maximum;
        return _negative ? (0 - _magnitude) & maximum : _magnitude;
    }

    // As wcstol converts with a 32-bit long: saturates at INT32_MIN and INT32_MAX.
    std::int32_t toInt32() const {
        if (_negative)
            return exceeds(std::uint64_t{1} << 31)
                       ? INT32_MIN
                       : static_cast<std::int32_t>(-static_cast<std::int64_t>(_magnitude));
        return exceeds(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(_magnitude);
    }

private:
    // The value of c as a digit of the base (10 or 16), or -1.
    template <class Char> static int digitValue(Char c, unsigned base) {
        if (base == 10)
            return isDigit(c) ? static_cast<int>(c - Char('0')) : -1;
        const int value = hexValue(c);
        return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
    }

    std::uint64_t _magnitude = 0;
    std::size_t _digits = 0;
    std::size_t _digitsAt = 0;
    bool _negative = false;
    bool _overflow = false;
};

} // namespace vellumtag

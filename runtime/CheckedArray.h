#pragma once

#include "RuntimeError.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

// A fixed array of signed 32-bit elements with indexes First..Last, zero at creation; an index outside the
// range raises SubscriptError. Used for PanelVars and the polls' receiving areas.
template <int First, int Last> class CheckedArray {
public:
    static constexpr int first = First;
    static constexpr int last = Last;

    int32_t &operator[](int index) { return m_items[offset(index)]; }
    int32_t operator[](int index) const { return m_items[offset(index)]; }

    // Elements index..index+N-1, handed to the library as a block read's receiving area; SubscriptError
    // unless the whole block lies inside the array.
    template <std::size_t N> std::span<int32_t, N> block(int index) {
        const std::size_t start = offset(index);
        if (N > m_items.size() - start)
            throw SubscriptError("subscript out of range: " + std::to_string(index) + " + " +
                                 std::to_string(N - 1));
        return std::span<int32_t, N>(m_items.data() + start, N);
    }

private:
    static std::size_t offset(int index) {
        if (index < First || index > Last)
            throw SubscriptError("subscript out of range: " + std::to_string(index));
        return static_cast<std::size_t>(index - First);
    }

    std::array<int32_t, Last - First + 1> m_items{};
};

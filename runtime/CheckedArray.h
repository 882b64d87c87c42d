#pragma once

#include "RuntimeError.h"

#include <array>
#include <cstdint>
#include <string>

// A fixed array of signed 32-bit elements with indexes First..Last, zero at creation; an index outside the
// range raises SubscriptError. Used for PanelVars and the polls' receiving areas.
template <int First, int Last> class CheckedArray {
public:
    static constexpr int first = First;
    static constexpr int last = Last;

    int32_t &operator[](int index) { return m_items[offset(index)]; }
    int32_t operator[](int index) const { return m_items[offset(index)]; }

    // Address of an element, handed to the library as a block read's receiving area.
    int32_t *at(int index) { return &m_items[offset(index)]; }

private:
    static std::size_t offset(int index)
    {
        if (index < First || index > Last)
            throw SubscriptError("subscript out of range: " + std::to_string(index));
        return static_cast<std::size_t>(index - First);
    }

    std::array<int32_t, Last - First + 1> m_items{};
};

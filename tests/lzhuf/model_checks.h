// Structural checks of a HuffmanModel shared by the model and decoder tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lzhuf/huffman_model.h"

// The code of `symbol` as text, root first ("0" = first child).
inline std::string code_of(const HuffmanModel& m, int32_t symbol) {
    uint32_t bits = 0;
    int32_t length = 0;
    model_code(m, symbol, bits, length);
    std::string text;
    for (int32_t i = length - 1; i >= 0; --i) text += ((bits >> i) & 1u) ? '1' : '0';
    return text;
}

// Walks the tree from the root along `code` and returns the symbol reached,
// or -1 if the code ends before a leaf.
inline int32_t walk(const HuffmanModel& m, const std::string& code) {
    int32_t link = m.child[ROOT_NODE];
    for (char bit : code) {
        if (link >= NODE_COUNT) return -1;
        link = m.child[link + (bit == '1' ? 1 : 0)];
    }
    return link >= NODE_COUNT ? link - NODE_COUNT : -1;
}

// Every invariant the format relies on: ordered weights, sums, parent links
// that agree with child links, and each symbol reachable exactly once.
inline void expect_consistent(const HuffmanModel& m) {
    for (int32_t n = 0; n + 1 < NODE_COUNT; ++n) {
        ASSERT_LE(m.weight[n], m.weight[n + 1]) << "weights out of order at node " << n;
    }
    ASSERT_EQ(m.weight[NODE_COUNT], GUARD_WEIGHT);
    ASSERT_EQ(m.parent[ROOT_NODE], 0);
    std::vector<int> seen(SYMBOL_COUNT, 0);
    for (int32_t n = 0; n < NODE_COUNT; ++n) {
        const int32_t c = m.child[n];
        if (c >= NODE_COUNT) {
            ASSERT_LT(c - NODE_COUNT, SYMBOL_COUNT);
            ++seen[static_cast<size_t>(c - NODE_COUNT)];
            ASSERT_EQ(m.parent[c], n);
        } else {
            ASSERT_LT(c + 1, n) << "children must lie below their parent";
            ASSERT_EQ(m.parent[c], n);
            ASSERT_EQ(m.parent[c + 1], n);
            ASSERT_EQ(m.weight[n], m.weight[c] + m.weight[c + 1]) << "node " << n;
        }
    }
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) {
        ASSERT_EQ(seen[static_cast<size_t>(s)], 1) << "symbol " << s;
        ASSERT_EQ(walk(m, code_of(m, s)), s);
    }
}

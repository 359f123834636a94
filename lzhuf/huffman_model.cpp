#include "lzhuf/huffman_model.h"

#include <cstring>

void model_start(HuffmanModel& m) {
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) {
        m.weight[s] = 1;
        m.child[s] = s + NODE_COUNT;
        m.parent[s + NODE_COUNT] = s;
    }
    // Pair nodes from the bottom: node j gets the children i and i + 1.
    for (int32_t i = 0, j = SYMBOL_COUNT; j < NODE_COUNT; i += 2, ++j) {
        m.weight[j] = m.weight[i] + m.weight[i + 1];
        m.child[j] = i;
        m.parent[i] = m.parent[i + 1] = j;
    }
    m.weight[NODE_COUNT] = GUARD_WEIGHT;
    m.parent[ROOT_NODE] = 0;
}

void model_rebuild(HuffmanModel& m) {
    // Gather the leaves in node order, halving their weights (rounding up, so
    // no symbol ever drops to weight 0).
    int32_t j = 0;
    for (int32_t n = 0; n < NODE_COUNT; ++n) {
        if (m.child[n] >= NODE_COUNT) {
            m.child[j] = m.child[n];
            m.weight[j] = (m.weight[n] + 1) / 2;
            ++j;
        }
    }
    // Rebuild the internal nodes, each inserted after every node of equal
    // weight so the order stays non-decreasing.
    for (int32_t i = 0; j < NODE_COUNT; i += 2, ++j) {
        const uint32_t f = m.weight[i] + m.weight[i + 1];
        m.weight[j] = f;
        int32_t k = j - 1;
        while (f < m.weight[k]) --k;
        ++k;
        // One block move per array: this runs for every internal node of
        // every rebuild, over up to hundreds of entries.
        const size_t moved = static_cast<size_t>(j - k);
        std::memmove(&m.weight[k + 1], &m.weight[k], moved * sizeof m.weight[0]);
        std::memmove(&m.child[k + 1], &m.child[k], moved * sizeof m.child[0]);
        m.weight[k] = f;
        m.child[k] = i;
    }
    for (int32_t n = 0; n < NODE_COUNT; ++n) {
        const int32_t k = m.child[n];
        if (k >= NODE_COUNT) {
            m.parent[k] = n;
        } else {
            m.parent[k] = m.parent[k + 1] = n;
        }
    }
}

void model_code(const HuffmanModel& m, int32_t symbol, uint32_t& bits, int32_t& length) {
    bits = 0;
    length = 0;
    int32_t node = m.parent[symbol + NODE_COUNT];
    while (node != ROOT_NODE) {
        const int32_t up = m.parent[node];
        // Children are adjacent: the second one is reached by a 1 bit.
        const uint32_t bit = (node == m.child[up]) ? 0u : 1u;
        bits |= bit << length;
        ++length;
        node = up;
    }
}

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
    for (int16_t& hint : m.last_of_weight) hint = -1;
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

namespace {

// The highest node whose weight is still below k, searching up from
// `first` (whose weight is below k).  Weights never decrease with the node
// number and the guard stops the search, so the answer is the node before
// the first weight of at least k; runs of equal weights can be hundreds of
// nodes long, so the search gallops and then halves instead of stepping.
int32_t last_node_below(const HuffmanModel& m, int32_t first, uint32_t k) {
    int32_t low = first;  // weight[low] < k
    int32_t step = 1;
    while (k > m.weight[low + step]) {
        low += step;
        step *= 2;
        if (low + step > NODE_COUNT) step = NODE_COUNT - low;
    }
    // weight[low] < k <= weight[low + step]
    int32_t high = low + step;
    while (high - low > 1) {
        const int32_t middle = low + (high - low) / 2;
        if (k > m.weight[middle]) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace

int32_t model_swap_partner(HuffmanModel& m, int32_t c, uint32_t k) {
    // Nodes c + 1 up to the partner all weigh k - 1.
    const uint32_t old_weight = k - 1;
    if (old_weight >= WEIGHT_HINTS) return last_node_below(m, c + 1, k);
    int16_t& hint = m.last_of_weight[old_weight];
    int32_t l = hint;
    if (!(l > c && l < NODE_COUNT && m.weight[l] == old_weight && m.weight[l + 1] > old_weight)) {
        l = last_node_below(m, c + 1, k);
    }
    hint = static_cast<int16_t>(l - 1);  // the run's new end once l moves up
    return l;
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

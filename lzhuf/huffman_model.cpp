#include "lzhuf/huffman_model.h"

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
        for (int32_t n = j; n > k; --n) {
            m.weight[n] = m.weight[n - 1];
            m.child[n] = m.child[n - 1];
        }
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
inline int32_t last_node_below(const HuffmanModel& m, int32_t first, uint32_t k) {
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

namespace {

// Counts the symbol whose leaf is node c and every node above it.  When the
// order breaks, the node swaps places with the highest node still of its
// old weight, together with its subtree.
//
// `path` (may be null) holds the nodes from the root down to c as the
// decoder's walk met them: while nothing has been swapped, the next node up
// is known without waiting for parent[], which is most of the cost of an
// update.  After a swap the path above no longer applies.
inline void count_from(HuffmanModel& m, int32_t c, const int32_t* path, int32_t depth) {
    do {
        const uint32_t k = ++m.weight[c];
        if (k > m.weight[c + 1]) {
            const int32_t l = last_node_below(m, c + 1, k);
            m.weight[c] = m.weight[l];
            m.weight[l] = k;

            const int32_t a = m.child[c];
            m.parent[a] = l;
            if (a < NODE_COUNT) m.parent[a + 1] = l;
            const int32_t b = m.child[l];
            m.child[l] = a;
            m.parent[b] = c;
            if (b < NODE_COUNT) m.parent[b + 1] = c;
            m.child[c] = b;
            c = m.parent[l];
            path = nullptr;
        } else if (path) {
            c = depth > 0 ? path[--depth] : 0;
        } else {
            c = m.parent[c];
        }
    } while (c != 0);
}

}  // namespace

void model_update(HuffmanModel& m, int32_t symbol) {
    if (m.weight[ROOT_NODE] == REBUILD_WEIGHT) model_rebuild(m);
    count_from(m, m.parent[symbol + NODE_COUNT], nullptr, 0);
}

void model_update_along(HuffmanModel& m, int32_t symbol, const int32_t* path, int32_t length) {
    if (m.weight[ROOT_NODE] == REBUILD_WEIGHT) {
        model_rebuild(m);  // the walk's path is gone with the old tree
        path = nullptr;
    }
    count_from(m, m.parent[symbol + NODE_COUNT], path, length - 1);
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

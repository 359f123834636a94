// HuffmanModel: the adaptive Huffman code of the compressed format.
//
// Interface:
//   model_start(m)          build the fixed initial tree (start of a message)
//   model_update(m, symbol) count one decoded symbol, rebuilding first when the
//                           root has reached REBUILD_WEIGHT
//   model_rebuild(m)        halve all leaf weights and rebuild the tree
//   model_code(m, symbol, bits, length)
//                           the current code of a symbol, root first (used by
//                           the encoder and by tests; the decoder walks `child`)
//
// Every rule here, tie-breaks included, is part of the format: the decoder's
// model must evolve exactly as the sender's did, or the text turns to garbage.
#pragma once

#include <cstdint>

inline constexpr int32_t SYMBOL_COUNT = 314;        // 256 literals + 58 match lengths (3..60)
inline constexpr int32_t NODE_COUNT = 2 * SYMBOL_COUNT - 1;  // 627 nodes, 0..626
inline constexpr int32_t ROOT_NODE = NODE_COUNT - 1;         // the root is always node 626
inline constexpr uint32_t REBUILD_WEIGHT = 0x8000;  // root weight that triggers a rebuild
inline constexpr uint32_t GUARD_WEIGHT = 0xFFFF;    // stored past the last node; stops searches

struct HuffmanModel {
    // weight[n]: weight of node n (leaf: count of its symbol; internal: sum of
    // its children).  weight[NODE_COUNT] is the guard.
    uint32_t weight[NODE_COUNT + 1];
    // child[n] >= NODE_COUNT: leaf holding symbol child[n] - NODE_COUNT.
    // Otherwise the children are child[n] (bit 0) and child[n] + 1 (bit 1).
    int32_t child[NODE_COUNT];
    // parent[n] for nodes; parent[NODE_COUNT + s] is the node holding symbol s.
    // parent[ROOT_NODE] stays 0, which ends every climb towards the root.
    int32_t parent[NODE_COUNT + SYMBOL_COUNT];
};

void model_start(HuffmanModel& m);
void model_rebuild(HuffmanModel& m);
// Writes the code of `symbol` into `bits` (bit i of the code, root first, is
// bit (length - 1 - i)) and its length into `length`.  Codes are at most
// NODE_COUNT - 1 bits long in theory; with weights capped at 0x8000 they stay
// well under 32 bits, which the caller may rely on.
void model_code(const HuffmanModel& m, int32_t symbol, uint32_t& bits, int32_t& length);

// The update runs once per decoded symbol; it is defined here so that it
// is inlined into the decoding loop.

// The highest node whose weight is still below k, searching up from
// `first` (whose weight is below k).  Weights never decrease with the node
// number and the guard stops the search, so the answer is the node before
// the first weight of at least k; runs of equal weights can be hundreds of
// nodes long, so the search gallops and then halves instead of stepping.
inline int32_t model_last_node_below(const HuffmanModel& m, int32_t first, uint32_t k) {
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

// Counts the symbol whose leaf is node c and every node above it.  When the
// order breaks, the node swaps places with the highest node still of its
// old weight, together with its subtree.
inline void model_count_from(HuffmanModel& m, int32_t c) {
    do {
        const uint32_t k = ++m.weight[c];
        if (k > m.weight[c + 1]) {
            const int32_t l = model_last_node_below(m, c + 1, k);
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
            c = l;
        }
        c = m.parent[c];
    } while (c != 0);
}

inline void model_update(HuffmanModel& m, int32_t symbol) {
    if (m.weight[ROOT_NODE] == REBUILD_WEIGHT) model_rebuild(m);
    model_count_from(m, m.parent[symbol + NODE_COUNT]);
}


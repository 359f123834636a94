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

// A young tree swaps a node on most updates, with runs of small equal
// weights hundreds of nodes long to search; the same weight's run comes up
// again and again, so remembering where it ended spares most searches.
// Larger weights come in short runs, which the search finds quickly.
inline constexpr int32_t WEIGHT_HINTS = 64;

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
    // last_of_weight[w] for small weights w: the node found last time as the
    // highest one of weight w, or anything else.  Only a hint: it is checked
    // before use, and the search runs when it does not hold.
    int16_t last_of_weight[WEIGHT_HINTS];
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

// The node that node c, just counted up to weight k, swaps places with: the
// highest node still of weight k - 1.  Out of line: most updates of a grown
// tree never call it, and the counting loop stays small.
int32_t model_swap_partner(HuffmanModel& m, int32_t c, uint32_t k);

// Counts the symbol whose leaf is node c and every node above it.  When the
// order breaks, the node swaps places with the highest node still of its
// old weight, together with its subtree.
inline void model_count_from(HuffmanModel& m, int32_t c) {
    do {
        const uint32_t k = ++m.weight[c];
        if (k > m.weight[c + 1]) {
            const int32_t l = model_swap_partner(m, c, k);
            m.weight[c] = m.weight[l];
            m.weight[l] = k;

            // A child link below NODE_COUNT names two children, a leaf's
            // one symbol entry; for a leaf the second store repeats the
            // first, which spares a branch that no predictor gets right.
            const int32_t a = m.child[c];
            m.parent[a] = l;
            m.parent[a + static_cast<int32_t>(a < NODE_COUNT)] = l;
            const int32_t b = m.child[l];
            m.child[l] = a;
            m.parent[b] = c;
            m.parent[b + static_cast<int32_t>(b < NODE_COUNT)] = c;
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


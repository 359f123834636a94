// HuffmanModel: the adaptive Huffman code of the compressed format.
//
// Interface:
//   model_start(m)          build the fixed initial tree (start of a message)
//   model_update(m, symbol) count one decoded symbol, rebuilding first when the
//                           root has reached REBUILD_WEIGHT
//   model_rebuild(m)        halve all leaf weights and rebuild the tree
//   model_update_along(m, symbol, path, length)
//                           model_update for a decoder that knows the path
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
void model_update(HuffmanModel& m, int32_t symbol);
void model_rebuild(HuffmanModel& m);
// The same as model_update, for a caller that has just walked the tree to
// the symbol: `path` holds the `length` nodes met on the way, from the root
// to the symbol's leaf.  Knowing them spares the climb through parent[].
void model_update_along(HuffmanModel& m, int32_t symbol, const int32_t* path, int32_t length);

// Writes the code of `symbol` into `bits` (bit i of the code, root first, is
// bit (length - 1 - i)) and its length into `length`.  Codes are at most
// NODE_COUNT - 1 bits long in theory; with weights capped at 0x8000 they stay
// well under 32 bits, which the caller may rely on.
void model_code(const HuffmanModel& m, int32_t symbol, uint32_t& bits, int32_t& length);

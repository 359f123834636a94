#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lzhuf/huffman_model.h"

namespace {

// The code of `symbol` as text, root first ("0" = first child).
std::string code_of(const HuffmanModel& m, int32_t symbol) {
    uint32_t bits = 0;
    int32_t length = 0;
    model_code(m, symbol, bits, length);
    std::string text;
    for (int32_t i = length - 1; i >= 0; --i) text += ((bits >> i) & 1u) ? '1' : '0';
    return text;
}

// Every invariant the format relies on: ordered weights, sums, parent links
// that agree with child links, and each symbol a leaf exactly once (that the
// encoder's codes walk the decoder's tree, the roundtrips show).
void expect_consistent(const HuffmanModel& m) {
    ASSERT_EQ(m.weight[NODE_COUNT], GUARD_WEIGHT);
    std::vector<int> seen(SYMBOL_COUNT, 0);
    for (int32_t n = 0; n < NODE_COUNT; ++n) {
        ASSERT_LE(m.weight[n], m.weight[n + 1]) << "order at node " << n;  // the last one against the guard
        const int32_t c = m.child[n];
        ASSERT_EQ(m.parent[c], n);
        if (c >= NODE_COUNT) {
            ++seen.at(static_cast<size_t>(c - NODE_COUNT));
        } else {
            ASSERT_LT(c + 1, n) << "children must lie below their parent";
            ASSERT_EQ(m.parent[c + 1], n);
            ASSERT_EQ(m.weight[n], m.weight[c] + m.weight[c + 1]) << "node " << n;
        }
    }
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) ASSERT_EQ(seen[static_cast<size_t>(s)], 1) << "symbol " << s;
}

std::unique_ptr<HuffmanModel> fresh_model() {
    auto m = std::make_unique<HuffmanModel>();
    model_start(*m);
    return m;
}

uint32_t leaf_weight(const HuffmanModel& m, int32_t symbol) { return m.weight[m.parent[symbol + NODE_COUNT]]; }

TEST(HuffmanModel, StartTreeGivesNineBitCodesToTheFirst116Symbols) {
    auto m = fresh_model();
    EXPECT_EQ(m->child[ROOT_NODE], 624);
    EXPECT_EQ(m->weight[ROOT_NODE], 314u);
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) EXPECT_EQ(code_of(*m, s).size(), s < 116 ? 9u : 8u) << s;
    expect_consistent(*m);
}

TEST(HuffmanModel, UpdateSwapsWithTheHighestNodeOfTheOldWeightOnly) {
    auto m = fresh_model();
    model_update(*m, 0x41);
    // Node 314 already weighs 2, so 313 is the last weight-1 node: the swap
    // partner is the highest node of the old weight, not the first found.
    EXPECT_EQ(m->parent[NODE_COUNT + 0x41], 313);
    EXPECT_EQ(m->parent[NODE_COUNT + 313], 65);
    EXPECT_EQ(code_of(*m, 0x41), "11000101");
    EXPECT_EQ(m->weight[ROOT_NODE], 315u);
    // Symbol 312 at node 312 now reaches weight 2, equal to its neighbour
    // 313's: equal weights are not swapped.
    model_update(*m, 312);
    EXPECT_EQ(m->parent[NODE_COUNT + 312], 312);
    EXPECT_EQ(m->weight[312], 2u);
    expect_consistent(*m);
}

TEST(HuffmanModel, RebuildHalvesUpwardsKeepsLeafOrderAndPlacesEqualSumsLast) {
    auto m = fresh_model();
    // Symbols 10..13 weigh 1, 2, 3, 4.
    for (int32_t s = 11; s <= 13; ++s)
        for (int32_t k = 10; k < s; ++k) model_update(*m, s);
    std::vector<int32_t> order_before;
    for (int32_t n = 0; n < NODE_COUNT; ++n)
        if (m->child[n] >= NODE_COUNT) order_before.push_back(m->child[n]);

    model_rebuild(*m);
    EXPECT_EQ((std::vector<uint32_t>{leaf_weight(*m, 10), leaf_weight(*m, 11), leaf_weight(*m, 12), leaf_weight(*m, 13)}),
              (std::vector<uint32_t>{1, 1, 2, 2}));
    for (int32_t n = 0; n < SYMBOL_COUNT; ++n) EXPECT_EQ(m->child[n], order_before[static_cast<size_t>(n)]) << n;
    // The first internal node (sum 2 of two weight-1 leaves) goes after every
    // weight-2 node already present, i.e. after all the leaves.
    EXPECT_EQ(m->child[SYMBOL_COUNT], 0);
    EXPECT_EQ(m->weight[SYMBOL_COUNT], 2u);
    expect_consistent(*m);
}

// Each update counts its symbol once; the one that finds the root at the
// rebuild weight first halves every leaf, rounding up.  The counts are kept
// here too, from those rules alone, and the model must agree leaf by leaf.
TEST(HuffmanModel, ManySkewedUpdatesAndRebuildsStayConsistent) {
    auto m = fresh_model();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> any(0, SYMBOL_COUNT - 1);
    std::geometric_distribution<int32_t> skewed(0.02);
    std::vector<uint32_t> counts(SYMBOL_COUNT, 1);
    uint32_t total = SYMBOL_COUNT;
    int rebuilds = 0;
    for (int32_t i = 0; i < 150000; ++i) {
        const int32_t symbol = (i % 3 == 0) ? any(rng) : std::min<int32_t>(skewed(rng), SYMBOL_COUNT - 1);
        if (total == REBUILD_WEIGHT) {
            ++rebuilds;
            total = 0;
            for (uint32_t& count : counts) total += count = (count + 1) / 2;
        }
        ++counts[static_cast<size_t>(symbol)];
        ++total;
        model_update(*m, symbol);
        ASSERT_EQ(m->weight[ROOT_NODE], total) << i;
        ASSERT_EQ(leaf_weight(*m, symbol), counts[static_cast<size_t>(symbol)]) << i;
    }
    EXPECT_GE(rebuilds, 5);
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) EXPECT_EQ(leaf_weight(*m, s), counts[static_cast<size_t>(s)]) << s;
    expect_consistent(*m);
}

}  // namespace

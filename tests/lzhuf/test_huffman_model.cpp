#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "tests/lzhuf/model_checks.h"

namespace {

std::unique_ptr<HuffmanModel> fresh_model() {
    auto m = std::make_unique<HuffmanModel>();
    model_start(*m);
    return m;
}

uint32_t leaf_weight(const HuffmanModel& m, int32_t symbol) { return m.weight[m.parent[symbol + NODE_COUNT]]; }

TEST(HuffmanModelStart, InitialTreeAndCodes) {
    auto m = fresh_model();
    EXPECT_EQ(m->child[ROOT_NODE], 624);
    EXPECT_EQ(m->weight[ROOT_NODE], 314u);
    EXPECT_EQ(code_of(*m, 0x41), "111001101");
    EXPECT_EQ(code_of(*m, 313), "11000101");
    for (int32_t s = 0; s < SYMBOL_COUNT; ++s) {
        EXPECT_EQ(code_of(*m, s).size(), s < 116 ? 9u : 8u) << "symbol " << s;
    }
    expect_consistent(*m);
}

TEST(HuffmanModelUpdate, FirstUpdateMovesLeafToHighestNodeOfOldWeight) {
    auto m = fresh_model();
    model_update(*m, 0x41);
    // Node 314 already weighs 2, so 313 is the last weight-1 node: the swap
    // partner is the highest node of the old weight, not the first found.
    EXPECT_EQ(m->parent[NODE_COUNT + 0x41], 313);
    EXPECT_EQ(m->parent[NODE_COUNT + 313], 65);
    EXPECT_EQ(code_of(*m, 0x41), "11000101");
    EXPECT_EQ(m->weight[ROOT_NODE], 315u);
    expect_consistent(*m);
}

TEST(HuffmanModelUpdate, EqualWeightNeighbourIsNotSwapped) {
    auto m = fresh_model();
    model_update(*m, 0x41);  // node 313 now weighs 2
    // Symbol 312 sits at node 312; its new weight 2 equals node 313's.
    ASSERT_EQ(m->parent[NODE_COUNT + 312], 312);
    model_update(*m, 312);
    EXPECT_EQ(m->parent[NODE_COUNT + 312], 312);
    EXPECT_EQ(m->weight[312], 2u);
    expect_consistent(*m);
}

TEST(HuffmanModelUpdate, RootGrowsByOnePerSymbolAndInvariantsHold) {
    auto m = fresh_model();
    std::mt19937 rng(7);
    std::geometric_distribution<int32_t> skewed(0.05);
    for (uint32_t i = 1; i <= 5000; ++i) {
        model_update(*m, std::min<int32_t>(skewed(rng), SYMBOL_COUNT - 1));
        ASSERT_EQ(m->weight[ROOT_NODE], 314u + i);
    }
    expect_consistent(*m);
}

TEST(HuffmanModelRebuild, HappensInsideThe32455thUpdate) {
    auto m = fresh_model();
    for (int32_t i = 0; i < 32454; ++i) model_update(*m, i % SYMBOL_COUNT);
    EXPECT_EQ(m->weight[ROOT_NODE], REBUILD_WEIGHT);
    const uint32_t before = leaf_weight(*m, 5);
    EXPECT_GT(before, 100u) << "no rebuild may have halved the weights yet";

    model_update(*m, 5);
    // Halved (rounding up), then counted once more.
    EXPECT_EQ(leaf_weight(*m, 5), (before + 1) / 2 + 1);
    EXPECT_LT(m->weight[ROOT_NODE], REBUILD_WEIGHT / 2 + SYMBOL_COUNT);
    expect_consistent(*m);
}

TEST(HuffmanModelRebuild, HalvesUpwardsKeepsLeafOrderAndPlacesEqualSumsLast) {
    auto m = fresh_model();
    // Give four symbols the weights 1, 2, 3, 4 (symbol 10 stays at 1).
    for (int k = 0; k < 1; ++k) model_update(*m, 11);
    for (int k = 0; k < 2; ++k) model_update(*m, 12);
    for (int k = 0; k < 3; ++k) model_update(*m, 13);
    std::vector<int32_t> order_before;
    for (int32_t n = 0; n < NODE_COUNT; ++n) {
        if (m->child[n] >= NODE_COUNT) order_before.push_back(m->child[n] - NODE_COUNT);
    }

    model_rebuild(*m);
    EXPECT_EQ(leaf_weight(*m, 10), 1u);
    EXPECT_EQ(leaf_weight(*m, 11), 1u);
    EXPECT_EQ(leaf_weight(*m, 12), 2u);
    EXPECT_EQ(leaf_weight(*m, 13), 2u);
    for (int32_t n = 0; n < SYMBOL_COUNT; ++n) {
        EXPECT_EQ(m->child[n] - NODE_COUNT, order_before[static_cast<size_t>(n)]) << "leaf order at " << n;
    }
    // The first internal node (sum 2 of two weight-1 leaves) goes after every
    // weight-2 node already present: after the two halved leaves of weight 2.
    int32_t first_internal = -1;
    for (int32_t n = 0; n < NODE_COUNT && first_internal < 0; ++n) {
        if (m->child[n] < NODE_COUNT) first_internal = n;
    }
    EXPECT_EQ(first_internal, SYMBOL_COUNT);
    EXPECT_EQ(m->weight[SYMBOL_COUNT], 2u);
    EXPECT_EQ(m->child[SYMBOL_COUNT], 0);
    expect_consistent(*m);
}

TEST(HuffmanModelRebuild, ManyRebuildsStayConsistent) {
    auto m = fresh_model();
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> any(0, SYMBOL_COUNT - 1);
    std::geometric_distribution<int32_t> skewed(0.02);
    int rebuilds = 0;
    for (int32_t i = 0; i < 150000; ++i) {
        const uint32_t root = m->weight[ROOT_NODE];
        model_update(*m, (i % 3 == 0) ? any(rng) : std::min<int32_t>(skewed(rng), SYMBOL_COUNT - 1));
        if (m->weight[ROOT_NODE] < root) {
            ++rebuilds;
            ASSERT_EQ(root, REBUILD_WEIGHT);
        }
        ASSERT_LE(m->weight[ROOT_NODE], REBUILD_WEIGHT);
    }
    EXPECT_GE(rebuilds, 5);
    expect_consistent(*m);
}

}  // namespace

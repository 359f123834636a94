#include "bench/lzhuf/plain_decoder.h"

#include <cstring>

namespace {

constexpr int LEAVES = 314;
constexpr int NODES = 2 * LEAVES - 1;  // 627
constexpr int ROOT = NODES - 1;
constexpr unsigned REBUILD_AT = 0x8000;
constexpr unsigned RING = 4096;

// The adaptive code, the textbook way: a leaf's weight climbs to the root,
// and a node that outgrows its right neighbours trades places with the last
// node of its old weight, found by stepping along.
struct Tree {
    unsigned weight[NODES + 1];
    int child[NODES];
    int parent[NODES + LEAVES];
};

void tree_start(Tree& t) {
    for (int s = 0; s < LEAVES; ++s) {
        t.weight[s] = 1;
        t.child[s] = s + NODES;
        t.parent[s + NODES] = s;
    }
    for (int i = 0, j = LEAVES; j < NODES; i += 2, ++j) {
        t.weight[j] = t.weight[i] + t.weight[i + 1];
        t.child[j] = i;
        t.parent[i] = t.parent[i + 1] = j;
    }
    t.weight[NODES] = 0xFFFF;
    t.parent[ROOT] = 0;
}

void tree_rebuild(Tree& t) {
    int j = 0;
    for (int n = 0; n < NODES; ++n) {
        if (t.child[n] >= NODES) {
            t.weight[j] = (t.weight[n] + 1) / 2;
            t.child[j] = t.child[n];
            ++j;
        }
    }
    for (int i = 0; j < NODES; i += 2, ++j) {
        const unsigned f = t.weight[i] + t.weight[i + 1];
        int k = j - 1;
        while (f < t.weight[k]) --k;
        ++k;
        std::memmove(&t.weight[k + 1], &t.weight[k], sizeof(unsigned) * static_cast<size_t>(j - k));
        std::memmove(&t.child[k + 1], &t.child[k], sizeof(int) * static_cast<size_t>(j - k));
        t.weight[k] = f;
        t.child[k] = i;
    }
    for (int n = 0; n < NODES; ++n) {
        const int k = t.child[n];
        t.parent[k] = n;
        if (k < NODES) t.parent[k + 1] = n;
    }
}

void tree_count(Tree& t, int symbol) {
    if (t.weight[ROOT] == REBUILD_AT) tree_rebuild(t);
    int c = t.parent[symbol + NODES];
    do {
        const unsigned k = ++t.weight[c];
        int l = c + 1;
        if (k > t.weight[l]) {
            while (k > t.weight[++l]) {
            }
            --l;
            t.weight[c] = t.weight[l];
            t.weight[l] = k;
            const int a = t.child[c];
            const int b = t.child[l];
            t.parent[a] = l;
            if (a < NODES) t.parent[a + 1] = l;
            t.parent[b] = c;
            if (b < NODES) t.parent[b + 1] = c;
            t.child[l] = a;
            t.child[c] = b;
            c = l;
        }
        c = t.parent[c];
    } while (c != 0);
}

// Upper six position bits and the prefix length, by the first eight bits of
// a position code: prefixes of 3..8 bits, each value owning 2^(8 - L) slots.
struct PositionCodes {
    uint8_t high[256];
    uint8_t bits[256];
};

constexpr PositionCodes make_position_codes() {
    PositionCodes p{};
    int b = 0;
    int v = 0;
    const int counts[6] = {1, 3, 8, 12, 24, 16};
    for (int row = 0; row < 6; ++row) {
        const int length = row + 3;
        for (int n = 0; n < counts[row]; ++n, ++v) {
            for (int slot = 0; slot < (1 << (8 - length)); ++slot, ++b) {
                p.high[b] = static_cast<uint8_t>(v);
                p.bits[b] = static_cast<uint8_t>(length);
            }
        }
    }
    return p;
}

constexpr PositionCodes POSITION = make_position_codes();

// MSB-first bits from a byte buffer; zero bits past its end.
struct BitReader {
    const uint8_t* next;
    const uint8_t* end;
    uint64_t window;  // pending bits at the top
    int count;

    void refill() {
        while (count <= 56) {
            const uint64_t byte = next < end ? *next++ : 0u;
            window |= byte << (56 - count);
            count += 8;
        }
    }
    unsigned bit() {
        if (count == 0) refill();
        const unsigned b = static_cast<unsigned>(window >> 63);
        window <<= 1;
        --count;
        return b;
    }
    unsigned bits(int n) {
        if (count < n) refill();
        const unsigned v = static_cast<unsigned>(window >> (64 - n));
        window <<= n;
        count -= n;
        return v;
    }
};

Tree tree;
uint8_t ring[RING];

}  // namespace

size_t plain_decode(const uint8_t* message, size_t size, uint8_t* out, size_t capacity) {
    if (size < 6) return 0;
    uint32_t length = 0;
    for (int i = 5; i >= 2; --i) length = length << 8 | message[i];
    const size_t total = length < capacity ? length : capacity;

    tree_start(tree);
    std::memset(ring, ' ', RING - 60);
    unsigned r = RING - 60;
    BitReader in{message + 6, message + size, 0, 0};
    size_t produced = 0;
    while (produced < total) {
        int c = tree.child[ROOT];
        while (c < NODES) c = tree.child[c + static_cast<int>(in.bit())];
        c -= NODES;
        tree_count(tree, c);
        if (c < 256) {
            ring[r] = static_cast<uint8_t>(c);
            r = (r + 1) & (RING - 1);
            out[produced++] = static_cast<uint8_t>(c);
            continue;
        }
        const unsigned first = in.bits(8);
        unsigned low = first;
        for (int extra = POSITION.bits[first] - 2; extra > 0; --extra) low = low << 1 | in.bit();
        const unsigned position = static_cast<unsigned>(POSITION.high[first]) << 6 | (low & 0x3F);
        unsigned from = r - position - 1;
        for (int k = c - 253; k > 0 && produced < total; --k) {
            const uint8_t ch = ring[from & (RING - 1)];
            ++from;
            ring[r] = ch;
            r = (r + 1) & (RING - 1);
            out[produced++] = ch;
        }
    }
    return produced;
}

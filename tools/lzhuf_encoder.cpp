#include "tools/lzhuf_encoder.h"

#include <algorithm>

#include "lzhuf/lzhuf_decoder.h"
#include "lzhuf/position_tables.h"

namespace {

void put_bits(LzhufEncoder& e, uint32_t bits, int32_t count) {
    for (int32_t i = count - 1; i >= 0; --i) {
        e.pending = (e.pending << 1) | ((bits >> i) & 1u);
        if (++e.pending_count == 8) {
            e.bytes.push_back(static_cast<uint8_t>(e.pending));
            e.pending = 0;
            e.pending_count = 0;
        }
    }
    e.bit_count += static_cast<uint64_t>(count);
}

void encode_symbol(LzhufEncoder& e, int32_t symbol) {
    uint32_t bits = 0;
    int32_t length = 0;
    model_code(e.model, symbol, bits, length);
    put_bits(e, bits, length);
    model_update(e.model, symbol);
}

// First table index for each upper-six-bit value: its code prefix.
struct PrefixTable {
    uint8_t first_b[64];
};

constexpr PrefixTable make_prefix_table() {
    PrefixTable t{};
    for (int b = 255; b >= 0; --b) t.first_b[position_high_table[b]] = static_cast<uint8_t>(b);
    return t;
}

constexpr PrefixTable PREFIXES = make_prefix_table();

constexpr int32_t MIN_MATCH = 3;
constexpr int32_t MAX_MATCH = 60;
constexpr uint32_t HASH_BITS = 15;
constexpr int32_t MAX_CHAIN = 256;

uint32_t hash3(const uint8_t* p) {
    const uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

}  // namespace

void encoder_start(LzhufEncoder& e) {
    model_start(e.model);
    e.bytes.clear();
    e.pending = 0;
    e.pending_count = 0;
    e.bit_count = 0;
    e.char_count = 0;
}

void encode_literal(LzhufEncoder& e, uint8_t c) {
    encode_symbol(e, c);
    e.char_count += 1;
}

void encode_match(LzhufEncoder& e, int32_t length, uint32_t position) {
    encode_symbol(e, length + MATCH_LENGTH_BIAS);
    const uint8_t b = PREFIXES.first_b[position >> 6];
    const int32_t prefix_length = position_length_table[b];
    const uint32_t prefix = static_cast<uint32_t>(b) >> (8 - prefix_length);
    put_bits(e, (prefix << 6) | (position & 0x3Fu), prefix_length + 6);
    e.char_count += static_cast<uint64_t>(length);
}

std::vector<uint8_t> encoder_bytes(const LzhufEncoder& e) {
    std::vector<uint8_t> out = e.bytes;
    if (e.pending_count > 0) {
        out.push_back(static_cast<uint8_t>(e.pending << (8 - e.pending_count)));
    }
    return out;
}

std::vector<uint8_t> wrap_message(const std::vector<uint8_t>& bit_stream, uint32_t length) {
    std::vector<uint8_t> message(6 + bit_stream.size());
    for (int i = 0; i < 4; ++i) message[2 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    std::copy(bit_stream.begin(), bit_stream.end(), message.begin() + 6);
    const uint16_t crc = crc16_ccitt(message.data() + 2, message.size() - 2);
    message[0] = static_cast<uint8_t>(crc & 0xFF);
    message[1] = static_cast<uint8_t>(crc >> 8);
    return message;
}

std::vector<uint8_t> lzhuf_compress(const uint8_t* data, size_t size, std::vector<EncodedStep>* steps) {
    // Work on the ring's view of the text: 4036 spaces, then the input, so
    // buffer index m sits at ring position m mod 4096.  Matches may reach into
    // the spaces; they never reach the 60 positions the decoder has not
    // written yet, since those lie beyond the buffer's start.
    std::vector<uint8_t> buffer(RING_PREFILL, ' ');
    buffer.insert(buffer.end(), data, data + size);
    const size_t end = buffer.size();

    std::vector<int32_t> head(size_t{1} << HASH_BITS, -1);
    std::vector<int32_t> prev(end, -1);
    size_t inserted = 0;
    auto insert_up_to = [&](size_t limit) {
        for (; inserted < limit && inserted + 2 < end; ++inserted) {
            const uint32_t h = hash3(&buffer[inserted]);
            prev[inserted] = head[h];
            head[h] = static_cast<int32_t>(inserted);
        }
    };

    LzhufEncoder e{};
    encoder_start(e);
    if (steps) steps->clear();
    size_t cur = RING_PREFILL;
    while (cur < end) {
        insert_up_to(cur);
        const int32_t longest = static_cast<int32_t>(std::min<size_t>(MAX_MATCH, end - cur));
        int32_t best_length = 0;
        size_t best_from = 0;
        if (longest >= MIN_MATCH) {
            int32_t candidate = head[hash3(&buffer[cur])];
            for (int32_t chain = 0; candidate >= 0 && chain < MAX_CHAIN; ++chain) {
                const size_t from = static_cast<size_t>(candidate);
                if (cur - from > RING_SIZE) break;
                int32_t n = 0;
                // buffer[from + n] for from + n >= cur is the copy's own
                // output, exactly what the decoder reads back.
                while (n < longest && buffer[from + static_cast<size_t>(n)] == buffer[cur + static_cast<size_t>(n)]) ++n;
                if (n > best_length) {
                    best_length = n;
                    best_from = from;
                    if (n == longest) break;
                }
                candidate = prev[from];
            }
        }
        if (best_length >= MIN_MATCH) {
            encode_match(e, best_length, static_cast<uint32_t>(cur - best_from - 1));
            cur += static_cast<size_t>(best_length);
        } else {
            encode_literal(e, buffer[cur]);
            cur += 1;
        }
        if (steps) steps->push_back({e.bit_count, e.char_count});
    }
    return wrap_message(encoder_bytes(e), static_cast<uint32_t>(size));
}

uint16_t crc16_ccitt(const uint8_t* data, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        }
    }
    return static_cast<uint16_t>(crc);
}

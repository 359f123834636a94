#include "monitor/monitor_parser.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VELK_PARSER_SSE2 1
#endif

#include "monitor/number_reading.h"

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

// The fields that change on nearly every character.  A batch works on this
// local copy and writes it back once: kept in the parser, every byte stored
// into recent_chars or the ring (which may alias anything) would force them
// out to memory and back, which costs more than the parsing.  A single
// character works on the fields in place through `InPlace`, which saves the
// copying for one step.  The steps below are written once for both.
struct Live {
    ParserState state;
    uint8_t recent_pos;
    uint32_t payload_type;
    int32_t chars_left;
    int32_t hex_phase;
    int32_t write_index;
};

struct InPlace {
    ParserState& state;
    uint8_t& recent_pos;
    uint32_t& payload_type;
    int32_t& chars_left;
    int32_t& hex_phase;
    int32_t& write_index;
};

inline Live load(const MonitorParser& p, const PayloadRing& ring) {
    return {p.state, p.recent_pos, p.payload_type, p.chars_left, p.hex_phase, ring.write_index};
}

inline void store(MonitorParser& p, PayloadRing& ring, const Live& v) {
    p.state = v.state;
    p.recent_pos = v.recent_pos;
    p.payload_type = v.payload_type;
    p.chars_left = v.chars_left;
    p.hex_phase = v.hex_phase;
    ring.write_index = v.write_index;
}

template <class V>
inline void append(PayloadRing& ring, V& v, uint8_t byte) {
    ring.bytes[v.write_index] = byte;
    v.write_index = ring_advance(v.write_index, 1);
}

// The character k places before the next free slot: 1 is the current one.
inline uint8_t char_back(const MonitorParser& p, uint8_t recent_pos, int32_t k) {
    return p.recent_chars[static_cast<uint8_t>(recent_pos - k)];
}

// The last `count` characters, oldest first, then a NUL.
void fill_window(MonitorParser& p, uint8_t recent_pos, int32_t count) {
    for (int32_t i = 0; i < count; ++i) p.match_window[i] = static_cast<char>(char_back(p, recent_pos, count - i));
    p.match_window[count] = '\0';
}

// The keywords in the 12 characters at `w`, the current one last.
template <class V>
void match_keywords(V& v, const MonitorOutput& out, const char* w) {
    if (std::memcmp(w, "LEN: ", 5) == 0) {
        v.chars_left = read_decimal(w + 5, HEADER_WINDOW - 5);
    } else if (std::memcmp(w, "TYPE: ", 6) == 0) {
        v.payload_type = static_cast<uint32_t>(read_decimal(w + 6, HEADER_WINDOW - 6));
    } else if (std::memcmp(w, "###PAYLOAD2:", 12) == 0) {
        if (v.payload_type == FIRST_HEX_TYPE) {
            // Each byte is two digits and a separator, but the last one has
            // no separator.
            v.chars_left = v.chars_left * 3 - 1;
            out.line(out.context, "\r### <Bin data>\r\n", false);
        } else {
            // Text gets two characters of grace after its announced length;
            // #, CR and LF there end it early.
            v.chars_left = v.chars_left + 2;
        }
        v.hex_phase = 0;
        v.state = SkipLineEnd;
    }
}

// Only reached when the window begins with L, T or #.
template <class V>
void scan_keywords(MonitorParser& p, V& v, const MonitorOutput& out) {
    fill_window(p, v.recent_pos, HEADER_WINDOW);
    match_keywords(v, out, p.match_window);
}

// The end marker counts once the character after it has arrived, so the
// window's first 14 characters are the ones before the current character.
inline bool end_marker_seen(MonitorParser& p, uint8_t recent_pos) {
    if (char_back(p, recent_pos, PAYLOAD_WINDOW) != '#') return false;
    fill_window(p, recent_pos, PAYLOAD_WINDOW);
    return std::memcmp(p.match_window, "###PAYLOAD_END", 14) == 0;
}

template <class V>
inline void hex_char(MonitorParser& p, PayloadRing& ring, V& v, uint8_t c) {
    int32_t phase = v.hex_phase + 1;
    const bool pair_done = phase == 2;
    if (pair_done) {
        const uint8_t previous = char_back(p, v.recent_pos, 2);
        p.match_window[0] = static_cast<char>(previous);
        p.match_window[1] = static_cast<char>(c);
        p.match_window[2] = '\0';
        if (!p.drops_payload) append(ring, v, hex_pair_value(previous, c));
    } else if (phase == 3) {
        phase = 0;
    }
    v.hex_phase = phase;
    --v.chars_left;
    if (v.chars_left <= 0) {
        v.state = Reset;
        return;
    }
    // A completed pair overwrote the window, so the marker cannot be seen on it.
    if (!pair_done && end_marker_seen(p, v.recent_pos)) v.state = Reset;
}

template <class V>
inline void text_char(MonitorParser& p, PayloadRing& ring, const MonitorOutput& out, V& v, uint8_t c) {
    if (v.chars_left < 3 && (c == '#' || c == CR || c == LF)) {
        v.state = Reset;
        return;
    }
    out.report_text(out.context, &c, 1);
    if (!p.drops_payload) append(ring, v, c);
    --v.chars_left;
    if (v.chars_left <= 0 || end_marker_seen(p, v.recent_pos)) v.state = Reset;
}

template <class V>
inline void step(MonitorParser& p, PayloadRing& ring, const MonitorOutput& out, V& v, uint8_t c) {
    p.recent_chars[v.recent_pos] = c;
    v.recent_pos = static_cast<uint8_t>(v.recent_pos + 1);
    switch (v.state) {
    case Reset:
        v.payload_type = 0;
        v.chars_left = 0;
        v.state = ScanHeader;
        return;
    case ScanHeader: {
        // Every keyword begins with one of these; anything else cannot match.
        const uint8_t first = char_back(p, v.recent_pos, HEADER_WINDOW);
        if (first == 'L' || first == 'T' || first == '#') scan_keywords(p, v, out);
        return;
    }
    case SkipLineEnd:
        if (c == CR || c == LF) return;
        v.state = InPayload;
        [[fallthrough]];
    case InPayload:
        if (v.chars_left <= 0) {
            v.state = Reset;
        } else if (v.payload_type >= FIRST_HEX_TYPE) {
            hex_char(p, ring, v, c);
        } else {
            text_char(p, ring, out, v, c);
        }
        return;
    }
}

// In 16-byte pieces, the last one ending at the end (it may store some
// characters a second time, with the same values): left to itself the
// compiler copies these few hundred bytes with a string instruction that
// takes longer to start than the copy, and a loop over the last few bytes
// would end at a different count every time.
inline void copy_out(uint8_t* to, const uint8_t* from, int64_t count) {
    if (count >= 16) {
        for (int64_t i = 0; i + 16 < count; i += 16) std::memcpy(to + i, from + i, 16);
        std::memcpy(to + count - 16, from + count - 16, 16);
    } else if (count >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + count - 4, from + count - 4, 4);
    } else {
        for (int64_t i = 0; i < count; ++i) to[i] = from[i];
    }
}

// The look-back keeps the last 256 characters, as one by one would: `count`
// characters stored at once, in at most two pieces, split where it wraps.
inline void remember(MonitorParser& p, uint8_t& recent_pos, const uint8_t* chars, int64_t count) {
    const int64_t kept = count < RECENT_CHARS_SIZE ? count : RECENT_CHARS_SIZE;
    const uint8_t* const from = chars + count - kept;
    const uint8_t at = static_cast<uint8_t>(recent_pos + count - kept);
    const int64_t before_wrap = RECENT_CHARS_SIZE - at < kept ? RECENT_CHARS_SIZE - at : kept;
    copy_out(p.recent_chars + at, from, before_wrap);
    copy_out(p.recent_chars, from + before_wrap, kept - before_wrap);
    recent_pos = static_cast<uint8_t>(recent_pos + count);
}

// The characters that can begin a keyword.
struct KeywordStarts {
    bool at[256];
};
inline constexpr KeywordStarts KEYWORD_STARTS = [] {
    KeywordStarts t{};
    t.at[static_cast<uint8_t>('L')] = t.at[static_cast<uint8_t>('T')] = t.at[static_cast<uint8_t>('#')] = true;
    return t;
}();

// The second character of the keyword that a character begins, 0 if none.
struct KeywordSeconds {
    uint8_t after[256];
};
inline constexpr KeywordSeconds KEYWORD_SECONDS = [] {
    KeywordSeconds t{};
    t.after[static_cast<uint8_t>('L')] = 'E';
    t.after[static_cast<uint8_t>('T')] = 'Y';
    t.after[static_cast<uint8_t>('#')] = '#';
    return t;
}();

// Whether the two characters at `w` can begin a keyword, tested without a
// branch of its own: header text is full of L, T and #, and a branch per
// one would go either way.
inline bool keyword_may_start(const uint8_t* w) {
    const uint8_t second = KEYWORD_SECONDS.after[w[0]];
    return (second != 0) & (w[1] == second);
}

// The first w from `w` on, below `starts_end`, where keyword_may_start
// holds; starts_end if there is none.  chars[starts_end] is still in the
// run.  Sixteen places at a time where the processor offers it.
inline int64_t next_keyword_start(const uint8_t* chars, int64_t w, int64_t starts_end) {
#if defined(VELK_PARSER_SSE2)
    const __m128i l = _mm_set1_epi8('L'), e = _mm_set1_epi8('E');
    const __m128i t = _mm_set1_epi8('T'), y = _mm_set1_epi8('Y');
    const __m128i hash = _mm_set1_epi8('#');
    // Sixteen first characters and the sixteen after them: up to chars[w + 16].
    for (; w + 16 <= starts_end; w += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + w));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + w + 1));
        const __m128i le = _mm_and_si128(_mm_cmpeq_epi8(first, l), _mm_cmpeq_epi8(second, e));
        const __m128i ty = _mm_and_si128(_mm_cmpeq_epi8(first, t), _mm_cmpeq_epi8(second, y));
        const __m128i hh = _mm_and_si128(_mm_cmpeq_epi8(first, hash), _mm_cmpeq_epi8(second, hash));
        const int found = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(le, ty), hh));
        if (found != 0) return w + std::countr_zero(static_cast<unsigned>(found));
    }
#endif
    while (w < starts_end && !keyword_may_start(chars + w)) ++w;
    return w;
}

// ScanHeader over a run of characters.  A character matters only when the
// window that ends with it can hold a keyword; the characters between such
// places are passed over by next_keyword_start, and a keyword whose window
// lies in the run is read there instead of being copied out.  The same as
// stepping through them one by one; returns where the run leaves ScanHeader
// or ends.
inline const uint8_t* scan_header(MonitorParser& p, Live& v, const MonitorOutput& out, const uint8_t* chars,
                                  const uint8_t* end) {
    constexpr int64_t BEFORE = HEADER_WINDOW - 1;  // window characters before the current one
    const int64_t n = end - chars;
    const uint8_t start_pos = v.recent_pos;
    int64_t stored = 0;  // characters of the run already in the look-back
    // The first 11 characters' windows begin in the look-back, which
    // scan_keywords reads; the run's characters go there first.
    for (int64_t j = 0; j < n && j < BEFORE; ++j) {
        if (!KEYWORD_STARTS.at[p.recent_chars[static_cast<uint8_t>(start_pos + j - BEFORE)]]) continue;
        remember(p, v.recent_pos, chars + stored, j + 1 - stored);
        stored = j + 1;
        scan_keywords(p, v, out);
        if (v.state != ScanHeader) return chars + stored;
    }
    // The later ones' windows lie in the run: w is a window's first
    // character, and only one whose first two can begin a keyword is read.
    const int64_t starts_end = n - BEFORE;
    for (int64_t w = 0;; ++w) {
        w = next_keyword_start(chars, w, starts_end);
        if (w >= starts_end) break;
        match_keywords(v, out, reinterpret_cast<const char*>(chars + w));
        if (v.state != ScanHeader) {
            remember(p, v.recent_pos, chars + stored, w + BEFORE + 1 - stored);
            return chars + w + BEFORE + 1;
        }
    }
    remember(p, v.recent_pos, chars + stored, n - stored);
    return end;
}

// Whole "HH " triples from a pair's first digit on, as long as the count
// leaves room after them and no '#' is in reach: the end marker then cannot
// be seen, so only the pairs matter.  The same as stepping through them one
// by one; returns where the one-by-one steps go on.
inline const uint8_t* hex_triples(MonitorParser& p, PayloadRing& ring, Live& v, const uint8_t* chars,
                                  const uint8_t* end) {
    if (v.hex_phase != 0) return chars;
    int64_t triples = (end - chars) / 3;
    const int64_t room = (static_cast<int64_t>(v.chars_left) - 1) / 3;
    if (room < triples) triples = room;
    if (triples <= 0) return chars;
    for (int32_t k = 1; k <= PAYLOAD_WINDOW; ++k) {
        if (char_back(p, v.recent_pos, k) == '#') return chars;
    }
    const size_t length = static_cast<size_t>(triples) * 3;
    if (const void* hash = std::memchr(chars, '#', length)) {
        triples = (static_cast<const uint8_t*>(hash) - chars) / 3;
        if (triples == 0) return chars;
    }
    const int32_t taken = static_cast<int32_t>(triples) * 3;
    // The bytes go to the ring in at most two stretches, split where it
    // wraps, so no byte needs a test of its own.
    const uint8_t* c = chars;
    for (int64_t left = p.drops_payload ? 0 : triples; left > 0;) {
        const int64_t room_to_end = PAYLOAD_RING_SIZE - v.write_index;
        const int64_t stretch = left < room_to_end ? left : room_to_end;
        uint8_t* const to = ring.bytes + v.write_index;
        for (int64_t k = 0; k < stretch; ++k, c += 3) to[k] = hex_pair_value(c[0], c[1]);
        v.write_index = ring_advance(v.write_index, static_cast<int32_t>(stretch));
        left -= stretch;
    }
    v.chars_left -= taken;
    remember(p, v.recent_pos, chars, taken);
    p.match_window[0] = static_cast<char>(chars[taken - 3]);
    p.match_window[1] = static_cast<char>(chars[taken - 2]);
    p.match_window[2] = '\0';
    return chars + taken;
}

}  // namespace

void feed_char(MonitorParser& parser, PayloadRing& ring, const MonitorOutput& out, uint8_t c) {
    InPlace v{parser.state,      parser.recent_pos, parser.payload_type,
              parser.chars_left, parser.hex_phase,  ring.write_index};
    step(parser, ring, out, v, c);
}

void feed_chars(MonitorParser& parser, PayloadRing& ring, const MonitorOutput& out, const uint8_t* chars,
                int32_t count) {
    Live v = load(parser, ring);
    const uint8_t* const end = chars + (count > 0 ? count : 0);
    while (chars != end) {
        if (v.state == ScanHeader) {
            chars = scan_header(parser, v, out, chars, end);
            if (chars == end) break;
        }
        if (v.state != InPayload || v.payload_type < FIRST_HEX_TYPE) {
            step(parser, ring, out, v, *chars++);
            continue;
        }
        // Hex payloads are most of a busy channel's text.  In a loop of their
        // own, the few fields they touch stay in registers.
        do {
            chars = hex_triples(parser, ring, v, chars, end);
            if (chars == end) break;
            const uint8_t c = *chars++;
            parser.recent_chars[v.recent_pos] = c;
            v.recent_pos = static_cast<uint8_t>(v.recent_pos + 1);
            if (v.chars_left <= 0) {
                v.state = Reset;
            } else {
                hex_char(parser, ring, v, c);
            }
        } while (v.state == InPayload && chars != end);
    }
    store(parser, ring, v);
}

void restart(MonitorParser& parser) { parser.state = Reset; }

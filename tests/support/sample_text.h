// Text in the style of the traffic: words and numbers with CR LF line ends,
// repetitive enough for matches of every length, the same for the same seed
// on every platform.
#pragma once

#include <cstdint>
#include <iterator>
#include <random>
#include <string>

inline std::string sample_text(uint64_t seed, size_t size) {
    static const char* const WORDS[] = {
        "net",   "control", "station", "check", "in",       "weather", "wind",    "rain",
        "north", "south",   "relay",   "the",   "traffic",  "and",     "of",      "to",
        "at",    "for",     "all",     "by",    "stations", "please",  "stand",   "message",
        "from",  "river",   "valley",  "bridge", "closed",  "tonight", "knots",   "Pennsylvania",
    };
    std::mt19937_64 rng(seed);
    std::string text;
    size_t line = 0;
    while (text.size() < size) {
        std::string word = rng() % 10 == 0 ? std::to_string(rng() % 10000) : WORDS[rng() % std::size(WORDS)];
        if (rng() % 12 == 0) word += '.';
        if (line + word.size() > 64) {
            text += "\r\n";
            line = 0;
        } else if (line > 0) {
            text += ' ';
            ++line;
        }
        text += word;
        line += word.size();
    }
    text.resize(size);
    return text;
}

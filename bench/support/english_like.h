// Deterministic English-like text for benchmarks: Zipf-distributed words from
// a common-word vocabulary, sentences with capitals and punctuation, CR LF
// line ends at about 70 columns.  It compresses about as well as plain
// English prose, which is what the decoder mostly sees.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline std::string english_like_text(size_t size, uint32_t seed = 42) {
    static const char* const words[] = {
        "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on",
        "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they", "you",
        "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when", "will",
        "would", "who", "so", "no", "message", "station", "weather", "report", "wind", "north", "south", "river",
        "county", "morning", "evening", "received", "forward", "please", "confirm", "traffic", "emergency",
        "hospital", "supplies", "water", "power", "road", "closed", "between", "Pennsylvania", "Harrisburg",
        "operators", "frequency", "schedule", "tomorrow", "meeting", "regional", "volunteers", "shelter",
        "request", "additional", "generator", "fuel", "status", "normal", "update", "following", "through",
        "should", "about", "after", "before", "under", "over", "people", "during", "because", "without",
    };
    constexpr size_t count = sizeof words / sizeof words[0];
    std::vector<double> weights(count);
    for (size_t i = 0; i < count; ++i) weights[i] = 1.0 / std::pow(static_cast<double>(i + 1), 0.9);
    std::mt19937 rng(seed);
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());

    std::string text;
    text.reserve(size + 32);
    size_t column = 0;
    bool sentence_start = true;
    while (text.size() < size) {
        std::string word = words[pick(rng)];
        if (sentence_start) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        sentence_start = false;
        if (rng() % 11 == 0) {
            word += (rng() % 4 == 0) ? "," : ".";
            sentence_start = word.back() == '.';
        }
        if (column + word.size() > 70) {
            text += "\r\n";
            column = 0;
        } else if (column > 0) {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
    }
    text.resize(size);
    return text;
}

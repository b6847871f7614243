// Texts placed into SQL statements. Every text goes through SqlQuote, which
// doubles single quotes, so a caller's text can never end the literal early.
#pragma once

#include <string>
#include <string_view>

namespace orvale::recorder {

// The text as a SQL string literal: 'text', with every ' doubled.
inline std::string SqlQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    out += '\'';
    return out;
}

}  // namespace orvale::recorder

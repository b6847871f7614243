// Text values inside SQL statements.
//
// Statements of the engine's databases are built as text. Every text that
// comes from a caller, a record or a folder name is placed between single
// quotes through SqlEscape (or SqlQuote), so that a quote inside it stays part
// of the value and can never end it early. Texts without quotes come out
// unchanged, which keeps the statement texts of the stored files' users as
// they are.
#pragma once

#include <string>
#include <string_view>

namespace orvale::recorder {

// `text` with every single quote doubled.
inline std::string SqlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        escaped += c;
        if (c == '\'') escaped += '\'';
    }
    return escaped;
}

// `text` as a SQL string literal: '...' with every single quote doubled.
inline std::string SqlQuote(std::string_view text) { return "'" + SqlEscape(text) + "'"; }

}  // namespace orvale::recorder

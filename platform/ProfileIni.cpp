#include "platform/ProfileIni.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>
#include <iterator>

namespace orvale::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value.remove_prefix(1);
        value.remove_suffix(1);
    }
    return value;
}

}  // namespace

ProfileIni ProfileIni::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(text);
}

ProfileIni ProfileIni::Parse(std::string_view text) {
    ProfileIni ini;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::map<std::string, std::string>* current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            const std::string name = Lower(Trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            // A repeated section adds nothing: the first one answers.
            const bool seen = ini.sections_.contains(name);
            current = seen ? nullptr : &ini.sections_[name];
            continue;
        }
        const size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) continue;
        std::string value(Unquoted(Trim(line.substr(equals + 1))));
        if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
        current->try_emplace(Lower(Trim(line.substr(0, equals))), std::move(value));
    }
    return ini;
}

std::optional<std::string> ProfileIni::Find(std::string_view section, std::string_view key) const {
    const auto s = sections_.find(Lower(Trim(section)));
    if (s == sections_.end()) return std::nullopt;
    const auto k = s->second.find(Lower(Trim(key)));
    if (k == s->second.end()) return std::nullopt;
    return k->second;
}

std::string ProfileIni::GetString(std::string_view section, std::string_view key,
                                  const std::string& fallback) const {
    return Find(section, key).value_or(fallback);
}

int LeadingInt(std::string_view text) {
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\n')) text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min<long long>(value * 10 + (c - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace orvale::platform

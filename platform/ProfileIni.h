// Reading of profile (INI) files by the rules their writers expect: section
// and key names match without regard to case and to surrounding blanks, a
// value is the text after the first '=' with its blanks trimmed and one pair
// of enclosing quotes removed, lines starting with ';' are comments, and the
// first occurrence of a section and of a key wins. A missing file, section
// or key answers the caller's default, so a reader never fails.
//
// The object is an immutable snapshot of the file taken at Load.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orvale::platform {

class ProfileIni {
  public:
    // Values longer than this many characters are cut to it, as a caller's
    // fixed 1024-character buffer would.
    static constexpr size_t kMaxValueLength = 1023;

    // The file's sections; an unreadable or missing file gives none.
    static ProfileIni Load(const std::string& path);
    static ProfileIni Parse(std::string_view text);

    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          const std::string& fallback) const;

  private:
    // Lower-cased section name -> lower-cased key -> value.
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

// The leading decimal number of a text as C's atoi reads it: blanks, an
// optional sign, then digits; 0 when there are none. Saturates at the int
// range instead of overflowing.
int LeadingInt(std::string_view text);

}  // namespace orvale::platform

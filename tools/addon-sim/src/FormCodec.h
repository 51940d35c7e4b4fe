#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace folvane::sim {

// Decodes %XX escapes; with plusIsSpace also the form rule "+" → space. A malformed escape stays as it is,
// the way PHP's urldecode leaves it.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// The fields of an application/x-www-form-urlencoded body or of a query string.
class FormFields {
public:
    static FormFields parse(std::string_view encoded);

    // A field sent twice counts with its last value, as in PHP's $_POST.
    const std::string* find(std::string_view key) const;
    std::string value(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

} // namespace folvane::sim

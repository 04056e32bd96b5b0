#pragma once
// application/x-www-form-urlencoded, as queries and form bodies come: name=value pairs joined by
// '&', percent-encoded, '+' for a space. Each reader gives its own bounds, so that junk costs it
// little to refuse, and its own rule for what decoded text may hold.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct QueryParameter {
    std::string name;
    std::string value;
};

using QueryParameters = std::vector<QueryParameter>;

struct QueryBounds {
    std::size_t length;      // of the whole text, encoded
    std::size_t parameters;  // how many pairs
    std::size_t nameLength;  // decoded bytes
    std::size_t valueLength; // decoded bytes
};

// Whether a decoded name or value is text the reader takes.
using DecodedRule = bool (*)(std::string_view decoded);

// '%' and two hexadecimal digits, '+' for a space; nothing for a bad '%' sequence or a raw byte
// outside printable ASCII. The bytes as decoded: the reader's rule says which it takes.
std::optional<std::string> PercentDecoded(std::string_view text);

// Every pair in its order, a name given twice kept twice. Nothing at all when the text or a pair
// is beyond the bounds, a name or value does not decode or breaks the rule, or a name is empty
// (an empty text, an empty part and a trailing '&' included, is a nameless pair).
std::optional<QueryParameters> SplitQuery(std::string_view text, const QueryBounds& bounds, DecodedRule rule);

// The first name given more than once, if any.
std::optional<std::string> RepeatedName(const QueryParameters& parameters);

// The value of the named parameter; empty when it is absent, which is also how a parameter sent
// without a value counts.
std::string ValueOf(const QueryParameters& parameters, std::string_view name);

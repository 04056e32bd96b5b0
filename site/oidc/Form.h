#pragma once
// application/x-www-form-urlencoded: the provider's requests (query strings and POST bodies)
// and the parameters it appends to a client's redirect_uri, and the text of its error
// descriptions, which travel both there and in JSON.
#include "site/verifier/Query.h"

#include <optional>
#include <string>
#include <string_view>

// Bounds that every honest request stays far within (a redirect_uri, a state or a nonce of
// a few hundred characters), so that junk costs little to refuse.
inline constexpr QueryBounds kFormBounds{.length = 8192, .parameters = 32, .nameLength = 64, .valueLength = 2048};

using FormField = QueryParameter;
using Form = QueryParameters;

// '%' and two hexadecimal digits, '+' for a space. Nothing for a bad '%' sequence, a raw byte
// outside printable ASCII, or a result that is not UTF-8 or holds a control character.
std::optional<std::string> FormDecoded(std::string_view text);

// Every byte but A-Z a-z 0-9 - . _ ~ as '%' and two upper-case digits (a space too, so that
// readers that take '+' literally read it right).
std::string FormEncoded(std::string_view text);

// The fields as name=value pairs, each encoded, joined by '&': what ParseForm reads back.
std::string FormText(const Form& fields);

// name=value pairs joined by '&'. A name given twice is kept twice (so that a caller can say
// which one it refuses: RepeatedName); nothing when the text or a field is beyond the bounds or
// a part does not decode. An empty text is an empty form.
std::optional<Form> ParseForm(std::string_view text);

// The text with every character an error_description may not have (beyond printable ASCII,
// '"' and '\') replaced by '?'.
std::string ErrorDescription(std::string_view text);

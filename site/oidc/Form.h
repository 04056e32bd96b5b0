#pragma once
// application/x-www-form-urlencoded: the provider's requests (query strings and POST bodies)
// and the parameters it appends to a client's redirect_uri, and the text of its error
// descriptions, which travel both there and in JSON.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bounds that every honest request stays far within (a redirect_uri, a state or a nonce of
// a few hundred characters), so that junk costs little to refuse.
inline constexpr std::size_t kMaxFormLength = 8192;
inline constexpr std::size_t kMaxFormFields = 32;
inline constexpr std::size_t kMaxFieldNameLength = 64;
inline constexpr std::size_t kMaxFieldValueLength = 2048;

struct FormField {
    std::string name;
    std::string value;
};

using Form = std::vector<FormField>;

// '%' and two hexadecimal digits, '+' for a space. Nothing for a bad '%' sequence, a raw byte
// outside printable ASCII, or a result that is not UTF-8 or holds a control character.
std::optional<std::string> FormDecoded(std::string_view text);

// Every byte but A-Z a-z 0-9 - . _ ~ as '%' and two upper-case digits (a space too, so that
// readers that take '+' literally read it right).
std::string FormEncoded(std::string_view text);

// name=value pairs joined by '&'. A name given twice is kept twice (so that a caller can say
// which one it refuses); nothing when the text or a field is beyond the bounds or a part does
// not decode. An empty text is an empty form.
std::optional<Form> ParseForm(std::string_view text);

// The first name given more than once, if any.
std::optional<std::string> RepeatedName(const Form& form);

// The value of the named field; empty when it is absent, which is also how a parameter sent
// without a value counts.
std::string ValueOf(const Form& form, std::string_view name);

// The text with every character an error_description may not have (beyond printable ASCII,
// '"' and '\') replaced by '?'.
std::string ErrorDescription(std::string_view text);

#include "site/verifier/Query.h"

#include "logon/AuthenticatorText.h"

#include <algorithm>

std::optional<std::string> PercentDecoded(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto raw = static_cast<unsigned char>(text[i]);
        if (raw <= 0x20 || raw >= 0x7F)
            return std::nullopt;
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
            const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
            if (low < 0)
                return std::nullopt;
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        }
    }
    return decoded;
}

std::optional<QueryParameters> SplitQuery(std::string_view text, const QueryBounds& bounds, DecodedRule rule)
{
    if (text.size() > bounds.length)
        return std::nullopt;
    const auto taken = [rule](const std::optional<std::string>& decoded, std::size_t most) {
        return decoded && decoded->size() <= most && rule(*decoded);
    };
    QueryParameters parameters;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('&', start), text.size());
        const std::string_view pair = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = std::min(pair.find('='), pair.size());
        auto name = PercentDecoded(pair.substr(0, equals));
        auto value = PercentDecoded(pair.substr(std::min(equals + 1, pair.size())));
        if (!taken(name, bounds.nameLength) || !taken(value, bounds.valueLength) || name->empty() ||
            parameters.size() == bounds.parameters)
            return std::nullopt;
        parameters.push_back({std::move(*name), std::move(*value)});
    }
    return parameters;
}

std::optional<std::string> RepeatedName(const QueryParameters& parameters)
{
    for (auto parameter = parameters.begin(); parameter != parameters.end(); ++parameter) {
        if (std::any_of(parameters.begin(), parameter,
                        [&](const QueryParameter& earlier) { return earlier.name == parameter->name; }))
            return parameter->name;
    }
    return std::nullopt;
}

std::string ValueOf(const QueryParameters& parameters, std::string_view name)
{
    const auto found = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const QueryParameter& parameter) { return parameter.name == name; });
    return found == parameters.end() ? std::string() : found->value;
}

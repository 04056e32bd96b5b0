#include "site/oidc/Base64Url.h"

#include <nettle/base64.h>

std::string Base64Url(std::span<const uint8_t> bytes)
{
    base64_encode_ctx context;
    base64url_encode_init(&context);
    std::string text(BASE64_ENCODE_LENGTH(bytes.size()) + BASE64_ENCODE_FINAL_LENGTH, '\0');
    std::size_t length = base64_encode_update(&context, text.data(), bytes.size(), bytes.data());
    length += base64_encode_final(&context, text.data() + length);
    text.resize(length);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    return text;
}

std::string Base64Url(std::string_view text)
{
    return Base64Url(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<uint8_t>> FromBase64Url(std::string_view text)
{
    // nettle's decoder wants the padding back; a length of 1 more than a multiple of 4 never
    // comes from whole bytes.
    if (text.size() % 4 == 1 || text.find('=') != std::string_view::npos)
        return std::nullopt;
    std::string padded(text);
    padded.append((4 - padded.size() % 4) % 4, '=');
    base64_decode_ctx context;
    base64url_decode_init(&context);
    std::vector<uint8_t> bytes(BASE64_DECODE_LENGTH(padded.size()));
    std::size_t length = bytes.size();
    if (!base64_decode_update(&context, &length, bytes.data(), padded.size(), padded.data()) ||
        !base64_decode_final(&context))
        return std::nullopt;
    bytes.resize(length);
    // The decoder skips blanks and ignores the last character's unused bits: only the text
    // that encodes back to itself is the bytes' spelling.
    if (Base64Url(bytes) != text)
        return std::nullopt;
    return bytes;
}

std::optional<std::string> TextFromBase64Url(std::string_view text)
{
    const auto bytes = FromBase64Url(text);
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

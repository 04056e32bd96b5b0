#include "site/verifier/Signature.h"

#include <nettle/base64.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>

#include <algorithm>

std::string Base64(std::span<const uint8_t> bytes)
{
    std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(text.data(), bytes.size(), bytes.data());
    return text;
}

std::optional<std::vector<uint8_t>> FromBase64(std::string_view text)
{
    // Only the one spelling of each byte string, so that a signature has a single text.
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes(BASE64_DECODE_LENGTH(text.size()));
    base64_decode_ctx context;
    base64_decode_init(&context);
    std::size_t length = bytes.size();
    if (!base64_decode_update(&context, &length, bytes.data(), text.size(), text.data()) ||
        !base64_decode_final(&context))
        return std::nullopt;
    bytes.resize(length);
    if (Base64(bytes) != text)
        return std::nullopt;
    return bytes;
}

std::string PercentEncoded(std::string_view text)
{
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0xF];
        }
    }
    return encoded;
}

std::string SignedText(Fields fields, SignatureVersion version)
{
    std::sort(fields.begin(), fields.end());
    std::string text;
    for (const auto& [name, value] : fields) {
        text += text.empty() ? "" : "&";
        text +=
            version == SignatureVersion::Two ? PercentEncoded(name) + "=" + PercentEncoded(value) : name + "=" + value;
    }
    return text;
}

std::string Sign(const SigningKey& key, const Fields& fields, SignatureVersion version)
{
    const std::string text = SignedText(fields, version);
    hmac_sha256_ctx context;
    hmac_sha256_set_key(&context, key.size(), key.data());
    hmac_sha256_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
    std::array<uint8_t, SHA256_DIGEST_SIZE> digest{};
    hmac_sha256_digest(&context, digest.size(), digest.data());
    return Base64(digest);
}

bool SameSignature(std::string_view expected, std::string_view given)
{
    return expected.size() == given.size() && memeql_sec(expected.data(), given.data(), expected.size()) != 0;
}

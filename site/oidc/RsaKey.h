#pragma once
// The provider's RS256 keys (nettle's RSA). A key pair is kept in the store as the private JWK
// of RFC 7518 (an object of kty "RSA" and the base64url numbers n, e, d, p, q, dp, dq, qi): a
// format any JOSE library reads, so an operator can check or move a key with common tools.
// Each key is named by its RFC 7638 thumbprint, so the same key always has the same kid.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr unsigned kRsaBits = 2048;
// The largest key read back: bounds the work one stored or offered key can ask for.
inline constexpr unsigned kMaxRsaBits = 4096;

class RsaPublicKey {
public:
    RsaPublicKey(RsaPublicKey&&) noexcept;
    RsaPublicKey& operator=(RsaPublicKey&&) noexcept;
    ~RsaPublicKey();

    // A public JWK as Jwk writes it: use and alg, when there, must be sig and RS256, a kid the
    // key's thumbprint.
    static std::optional<RsaPublicKey> FromJwk(std::string_view json);

    const std::string& Kid() const { return m_kid; }
    // What the JWKS publishes: kty, use, alg, kid, n, e.
    std::string Jwk() const;
    // An RS256 (PKCS #1 v1.5, SHA-256) signature of data by this key's pair.
    bool Verifies(std::string_view data, std::span<const uint8_t> signature) const;

private:
    friend class RsaKeyPair;
    struct Numbers;
    explicit RsaPublicKey(std::unique_ptr<Numbers> numbers);

    std::unique_ptr<Numbers> m_numbers;
    std::string m_kid;
};

class RsaKeyPair {
public:
    RsaKeyPair(RsaKeyPair&&) noexcept;
    RsaKeyPair& operator=(RsaKeyPair&&) noexcept;
    ~RsaKeyPair();

    // A new kRsaBits key with e = 65537 from the operating system's generator; nothing when
    // the generator fails.
    static std::optional<RsaKeyPair> Generate();
    // The private JWK Stored wrote; nothing when it is not one, or its numbers do not make a
    // key of kRsaBits to kMaxRsaBits bits.
    static std::optional<RsaKeyPair> FromStored(std::string_view text);

    std::string Stored() const;
    const RsaPublicKey& Public() const { return m_public; }
    // RS256 with blinding (timing-resistant); nothing when the generator or the key fails.
    std::optional<std::vector<uint8_t>> Sign(std::string_view data) const;

private:
    struct Numbers;
    RsaKeyPair(RsaPublicKey publicKey, std::unique_ptr<Numbers> numbers);

    RsaPublicKey m_public;
    std::unique_ptr<Numbers> m_private;
};

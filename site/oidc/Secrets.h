#pragma once
// The provider's random strings and how it keeps them. Codes, access tokens and client secrets
// are 256 random bits, so the store keeps only their SHA-256: finding a secret from its hash
// means trying 2^255 guesses on average, which no slow or salted hash would make harder (those
// protect secrets people choose), and a plain hash is one index lookup away from the row it
// names.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

using SecretHash = std::array<uint8_t, 32>;
using SubjectKey = std::array<uint8_t, 32>;

inline constexpr std::size_t kSecretBytes = 32;
// A client's identifier is public: it only has to be unique and unguessable enough not to collide.
inline constexpr std::size_t kClientIdBytes = 16;

// From the operating system's generator, which blocks only until it is first seeded; false when
// it fails.
bool FillRandom(std::span<uint8_t> bytes);

// base64url of that many random bytes: 43 characters for a secret, 22 for a client's identifier.
std::optional<std::string> DrawSecret(std::size_t bytes = kSecretBytes);

SecretHash Sha256(std::string_view data);

SecretHash HashSecret(std::string_view secret);

// In time that does not depend on where the two differ.
bool SameHash(const SecretHash& expected, const SecretHash& given);

// The site's key for subjects, drawn once and kept in the store.
std::optional<SubjectKey> DrawSubjectKey();

// An account's `sub`: base64url of HMAC-SHA256 of its name under the site's key. It stays the
// same for an account whatever token it signs in with (a replaced token keeps the account's
// identity at every application), it is made from the name alone so it says nothing of any
// token, and without the key it cannot be traced back to the name or guessed for another
// account. 43 ASCII characters, well within the 255 an ID token's subject may have.
std::string SubjectOf(const SubjectKey& key, std::string_view account);

#include "site/oidc/Secrets.h"

#include "site/oidc/Base64Url.h"

#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <nettle/sha2.h>
#include <sys/random.h>

#include <cerrno>
#include <vector>

bool FillRandom(std::span<uint8_t> bytes)
{
    // A request larger than 256 bytes may be cut short by a signal: go on where it stopped.
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno != EINTR)
            return false;
        filled += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    return true;
}

std::optional<std::string> DrawSecret(std::size_t bytes)
{
    std::vector<uint8_t> random(bytes);
    if (!FillRandom(random))
        return std::nullopt;
    return Base64Url(random);
}

SecretHash Sha256(std::string_view data)
{
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
    SecretHash digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

SecretHash HashSecret(std::string_view secret)
{
    return Sha256(secret);
}

bool SameHash(const SecretHash& expected, const SecretHash& given)
{
    return memeql_sec(expected.data(), given.data(), expected.size()) != 0;
}

std::optional<SubjectKey> DrawSubjectKey()
{
    SubjectKey key{};
    if (!FillRandom(key))
        return std::nullopt;
    return key;
}

std::string SubjectOf(const SubjectKey& key, std::string_view account)
{
    hmac_sha256_ctx context;
    hmac_sha256_set_key(&context, key.size(), key.data());
    hmac_sha256_update(&context, account.size(), reinterpret_cast<const uint8_t*>(account.data()));
    std::array<uint8_t, SHA256_DIGEST_SIZE> digest{};
    hmac_sha256_digest(&context, digest.size(), digest.data());
    return Base64Url(digest);
}

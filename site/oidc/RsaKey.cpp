#include "site/oidc/RsaKey.h"

#include "site/oidc/Base64Url.h"
#include "site/oidc/JsonReader.h"
#include "site/oidc/JsonWriter.h"
#include "site/oidc/Secrets.h"

#include <nettle/bignum.h>
#include <nettle/rsa.h>

#include <algorithm>
#include <array>
#include <initializer_list>

struct RsaPublicKey::Numbers {
    Numbers() { rsa_public_key_init(&key); }
    ~Numbers() { rsa_public_key_clear(&key); }
    Numbers(const Numbers&) = delete;
    Numbers& operator=(const Numbers&) = delete;

    rsa_public_key key;
};

struct RsaKeyPair::Numbers {
    Numbers() { rsa_private_key_init(&key); }
    ~Numbers() { rsa_private_key_clear(&key); }
    Numbers(const Numbers&) = delete;
    Numbers& operator=(const Numbers&) = delete;

    rsa_private_key key;
};

namespace {

struct BigNumber {
    BigNumber() { mpz_init(value); }
    ~BigNumber() { mpz_clear(value); }
    BigNumber(const BigNumber&) = delete;
    BigNumber& operator=(const BigNumber&) = delete;

    mpz_t value;
};

// nettle's source of randomness cannot fail, so a failure is noted and the result thrown away.
struct RandomSource {
    bool failed = false;

    static void Fill(void* context, std::size_t length, uint8_t* bytes)
    {
        auto* source = static_cast<RandomSource*>(context);
        if (!FillRandom(std::span(bytes, length))) {
            std::fill_n(bytes, length, 0);
            source->failed = true;
        }
    }
};

std::string Base64UrlNumber(const mpz_t number)
{
    std::vector<uint8_t> bytes(nettle_mpz_sizeinbase_256_u(number));
    nettle_mpz_get_str_256(bytes.size(), bytes.data(), number);
    return Base64Url(bytes);
}

// JWK numbers are unsigned, big-endian and without leading zero bytes.
bool ReadNumber(const ParsedJson& json, std::string_view name, mpz_t number)
{
    const std::string* text = json.String(name);
    const auto bytes = text ? FromBase64Url(*text) : std::nullopt;
    if (!bytes || bytes->empty() || bytes->front() == 0 || bytes->size() > kMaxRsaBits / 8)
        return false;
    nettle_mpz_set_str_256_u(number, bytes->size(), bytes->data());
    return true;
}

bool HasOnly(const ParsedJson& json, std::initializer_list<std::string_view> names)
{
    return std::all_of(json.Members().begin(), json.Members().end(), [&](const JsonMember& member) {
        return std::find(names.begin(), names.end(), member.name) != names.end();
    });
}

bool IsRsa(const ParsedJson& json)
{
    const std::string* type = json.String("kty");
    return type && *type == "RSA";
}

// A key published for another use or algorithm is not one to check signatures with.
bool IsForRs256(const ParsedJson& json)
{
    const std::string* use = json.String("use");
    const std::string* algorithm = json.String("alg");
    return (!json.Has("use") || (use && *use == "sig")) && (!json.Has("alg") || (algorithm && *algorithm == "RS256"));
}

bool OfAcceptedSize(const rsa_public_key& key)
{
    const std::size_t bits = mpz_sizeinbase(key.n, 2);
    return bits >= kRsaBits && bits <= kMaxRsaBits;
}

std::string Thumbprint(const rsa_public_key& key)
{
    // RFC 7638: the required members only, in the order of their names, without blanks.
    return Base64Url(Sha256(JsonObject()
                                .String("e", Base64UrlNumber(key.e))
                                .String("kty", "RSA")
                                .String("n", Base64UrlNumber(key.n))
                                .Text()));
}

} // namespace

RsaPublicKey::RsaPublicKey(std::unique_ptr<Numbers> numbers)
    : m_numbers(std::move(numbers)), m_kid(Thumbprint(m_numbers->key))
{
}

RsaPublicKey::RsaPublicKey(RsaPublicKey&&) noexcept = default;
RsaPublicKey& RsaPublicKey::operator=(RsaPublicKey&&) noexcept = default;
RsaPublicKey::~RsaPublicKey() = default;

std::optional<RsaPublicKey> RsaPublicKey::FromJwk(std::string_view json)
{
    const auto parsed = ParseJsonObject(json);
    if (!parsed || !IsRsa(*parsed) || !IsForRs256(*parsed) || !HasOnly(*parsed, {"kty", "use", "alg", "kid", "n", "e"}))
        return std::nullopt;
    auto numbers = std::make_unique<Numbers>();
    if (!ReadNumber(*parsed, "n", numbers->key.n) || !ReadNumber(*parsed, "e", numbers->key.e) ||
        !rsa_public_key_prepare(&numbers->key) || !OfAcceptedSize(numbers->key))
        return std::nullopt;
    RsaPublicKey key(std::move(numbers));
    const std::string* kid = parsed->String("kid");
    if (parsed->Has("kid") && (!kid || *kid != key.Kid()))
        return std::nullopt;
    return key;
}

std::string RsaPublicKey::Jwk() const
{
    return JsonObject()
        .String("kty", "RSA")
        .String("use", "sig")
        .String("alg", "RS256")
        .String("kid", m_kid)
        .String("n", Base64UrlNumber(m_numbers->key.n))
        .String("e", Base64UrlNumber(m_numbers->key.e))
        .Text();
}

bool RsaPublicKey::Verifies(std::string_view data, std::span<const uint8_t> signature) const
{
    if (signature.size() != m_numbers->key.size)
        return false;
    BigNumber number;
    nettle_mpz_set_str_256_u(number.value, signature.size(), signature.data());
    const auto digest = Sha256(data);
    return rsa_sha256_verify_digest(&m_numbers->key, digest.data(), number.value) != 0;
}

RsaKeyPair::RsaKeyPair(RsaPublicKey publicKey, std::unique_ptr<Numbers> numbers)
    : m_public(std::move(publicKey)), m_private(std::move(numbers))
{
}

RsaKeyPair::RsaKeyPair(RsaKeyPair&&) noexcept = default;
RsaKeyPair& RsaKeyPair::operator=(RsaKeyPair&&) noexcept = default;
RsaKeyPair::~RsaKeyPair() = default;

std::optional<RsaKeyPair> RsaKeyPair::Generate()
{
    auto publicNumbers = std::make_unique<RsaPublicKey::Numbers>();
    auto privateNumbers = std::make_unique<Numbers>();
    mpz_set_ui(publicNumbers->key.e, 65537);
    RandomSource random;
    if (!rsa_generate_keypair(&publicNumbers->key, &privateNumbers->key, &random, RandomSource::Fill, nullptr, nullptr,
                              kRsaBits, 0) ||
        random.failed)
        return std::nullopt;
    return RsaKeyPair(RsaPublicKey(std::move(publicNumbers)), std::move(privateNumbers));
}

std::optional<RsaKeyPair> RsaKeyPair::FromStored(std::string_view text)
{
    const auto parsed = ParseJsonObject(text);
    if (!parsed || !IsRsa(*parsed) || !HasOnly(*parsed, {"kty", "n", "e", "d", "p", "q", "dp", "dq", "qi"}))
        return std::nullopt;
    auto publicNumbers = std::make_unique<RsaPublicKey::Numbers>();
    auto privateNumbers = std::make_unique<Numbers>();
    rsa_public_key& pub = publicNumbers->key;
    rsa_private_key& key = privateNumbers->key;
    if (!ReadNumber(*parsed, "n", pub.n) || !ReadNumber(*parsed, "e", pub.e) || !ReadNumber(*parsed, "d", key.d) ||
        !ReadNumber(*parsed, "p", key.p) || !ReadNumber(*parsed, "q", key.q) || !ReadNumber(*parsed, "dp", key.a) ||
        !ReadNumber(*parsed, "dq", key.b) || !ReadNumber(*parsed, "qi", key.c))
        return std::nullopt;
    if (!rsa_public_key_prepare(&pub) || !rsa_private_key_prepare(&key) || !OfAcceptedSize(pub) || key.size != pub.size)
        return std::nullopt;
    // Signing checks each signature against the public key, so numbers that do not belong
    // together could only fail later; the cheapest check catches a mixed-up record now.
    BigNumber product;
    mpz_mul(product.value, key.p, key.q);
    if (mpz_cmp(product.value, pub.n) != 0)
        return std::nullopt;
    return RsaKeyPair(RsaPublicKey(std::move(publicNumbers)), std::move(privateNumbers));
}

std::string RsaKeyPair::Stored() const
{
    const rsa_public_key& pub = m_public.m_numbers->key;
    const rsa_private_key& key = m_private->key;
    return JsonObject()
        .String("kty", "RSA")
        .String("n", Base64UrlNumber(pub.n))
        .String("e", Base64UrlNumber(pub.e))
        .String("d", Base64UrlNumber(key.d))
        .String("p", Base64UrlNumber(key.p))
        .String("q", Base64UrlNumber(key.q))
        .String("dp", Base64UrlNumber(key.a))
        .String("dq", Base64UrlNumber(key.b))
        .String("qi", Base64UrlNumber(key.c))
        .Text();
}

std::optional<std::vector<uint8_t>> RsaKeyPair::Sign(std::string_view data) const
{
    const auto digest = Sha256(data);
    BigNumber signature;
    RandomSource random;
    if (!rsa_sha256_sign_digest_tr(&m_public.m_numbers->key, &m_private->key, &random, RandomSource::Fill,
                                   digest.data(), signature.value) ||
        random.failed)
        return std::nullopt;
    std::vector<uint8_t> bytes(m_public.m_numbers->key.size);
    nettle_mpz_get_str_256(bytes.size(), bytes.data(), signature.value);
    return bytes;
}

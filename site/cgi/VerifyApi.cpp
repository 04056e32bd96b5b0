#include "site/cgi/VerifyApi.h"

#include "site/cgi/ProcessCounts.h"

#include "site/verifier/Identity.h"
#include "site/verifier/LogonInput.h"
#include "site/verifier/Signature.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace {

constexpr std::size_t kShortestNonce = 16;
constexpr std::size_t kLongestNonce = 40;

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

Response Json(const Fields& fields)
{
    Response response;
    response.headers = {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};
    response.body = "{";
    for (const auto& [name, value] : fields)
        response.body += (response.body.size() > 1 ? "," : "") + JsonString(name) + ":" + JsonString(value);
    response.body += "}\n";
    return response;
}

// What every answer to one request carries besides its verdict. Version 1: the nonce and the
// site's time. Version 2 adds its own number and the request's time, so that an answer names
// the one request it answers.
class Answering {
public:
    Answering(const Request& request, const QueryParameters& parameters)
        : m_now(request.now), m_nonce(ValueOf(parameters, "nonce")), m_time(ValueOf(parameters, "time")),
          m_version(ValueOf(parameters, "v") == "2" ? SignatureVersion::Two : SignatureVersion::One)
    {
    }

    SignatureVersion Version() const { return m_version; }

    // An answer the client cannot check: it did not prove who it is.
    Response Unsigned(std::string_view status) const { return Json(FieldsOf(status)); }

    Response Signed(const ClientKey& key, std::string_view status,
                    const std::optional<RomBytes>& identity = std::nullopt, const std::string& account = {}) const
    {
        Fields fields = FieldsOf(status);
        if (identity) {
            fields.emplace_back("identity", FormatIdentity(*identity));
            fields.emplace_back("account", account);
        }
        fields.emplace_back("h", Sign(key, fields, m_version));
        return Json(fields);
    }

private:
    // Every answer passes here, and is counted by its status.
    Fields FieldsOf(std::string_view status) const
    {
        CountEvent(kApiCallCount, status);
        if (m_version == SignatureVersion::One)
            return {{"status", std::string(status)}, {"nonce", m_nonce}, {"t", UtcText(m_now)}};
        return {
            {"v", "2"}, {"status", std::string(status)}, {"nonce", m_nonce}, {"time", m_time}, {"t", UtcText(m_now)}};
    }

    int64_t m_now;
    std::string m_nonce;
    std::string m_time;
    SignatureVersion m_version;
};

std::optional<int64_t> WholeNumber(const std::string& text)
{
    int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return number;
}

std::optional<int64_t> ClientId(const std::string& text)
{
    const auto id = WholeNumber(text);
    return id && *id > 0 ? id : std::nullopt;
}

bool IsNonce(const std::string& nonce)
{
    return nonce.size() >= kShortestNonce && nonce.size() <= kLongestNonce &&
           std::all_of(nonce.begin(), nonce.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

bool SignatureHolds(const ClientKey& key, const QueryParameters& parameters, SignatureVersion version)
{
    Fields signedFields;
    for (const QueryParameter& parameter : parameters) {
        if (parameter.name != "h")
            signedFields.emplace_back(parameter.name, parameter.value);
    }
    return SameSignature(Sign(key, signedFields, version), ValueOf(parameters, "h"));
}

std::string_view StatusOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Accepted:
        return "OK";
    case Outcome::AlreadyUsed:
        return "REPLAYED";
    case Outcome::Revoked:
        return "REVOKED";
    case Outcome::Malformed:
        return "MALFORMED";
    case Outcome::NotGenuine:
        return "NOT_GENUINE";
    case Outcome::TooManyFailures:
        return "RATE_LIMITED";
    default:
        return "UNKNOWN_TOKEN";
    }
}

// A version 2 request is answered only within its time: a request captured and held back, or
// sent again once its nonce is forgotten, is stale by then. Empty when it may be answered.
std::string_view TimeProblem(const Request& request, const QueryParameters& parameters)
{
    const auto time = WholeNumber(ValueOf(parameters, "time"));
    if (!time)
        return "MALFORMED";
    if (*time < request.now - kRequestSkewSeconds || *time > request.now + kRequestSkewSeconds)
        return "STALE_REQUEST";
    return {};
}

// The client proved who it is: every answer from here on is signed.
Response VerifyString(Exchange& exchange, SiteStore& store, int64_t client, const ClientKey& key,
                      const Answering& answering, const QueryParameters& parameters)
{
    const Request& request = exchange.request;
    if (answering.Version() == SignatureVersion::Two) {
        if (const std::string_view problem = TimeProblem(request, parameters); !problem.empty())
            return answering.Signed(key, problem);
    }
    const std::string nonce = ValueOf(parameters, "nonce");
    if (!IsNonce(nonce))
        return answering.Signed(key, "MALFORMED");
    if (!store.UseNonce(client, nonce, request.now))
        return answering.Signed(key, "REPLAYED_REQUEST");
    // Each application has budgets of its own, as one address would.
    const std::string origin = "client:" + std::to_string(client);
    const StringCheck check = CheckOffer(exchange, store, {origin, origin, {}},
                                         AuthenticatorFromInput(ValueOf(parameters, "authenticator")).authenticator,
                                         {HashOf(request.newSession), false, SignInPath::Api});
    if (check.outcome != Outcome::Accepted) {
        Response refused = answering.Signed(key, StatusOf(check.outcome));
        refused.log = SpentBudgetLine(check.gate);
        return refused;
    }
    Response accepted = answering.Signed(key, "OK", check.identity, check.account);
    accepted.log = SignInLine(check, origin, SignInPath::Api);
    return accepted;
}

QueryParameters ParametersOf(const Request& request)
{
    return ParseQuery(request.query).value_or(QueryParameters{});
}

} // namespace

Response VerifyForClient(Exchange& exchange, SiteStore& store)
{
    const auto parameters = ParametersOf(exchange.request);
    const Answering answering(exchange.request, parameters);
    const auto client = ClientId(ValueOf(parameters, "id"));
    const auto key = client ? store.ClientKeyOf(*client) : std::nullopt;
    if (!key)
        return answering.Unsigned("NO_SUCH_CLIENT");
    if (!SignatureHolds(*key, parameters, answering.Version()))
        return answering.Unsigned("BAD_SIGNATURE");
    exchange.signingKey = key;
    return VerifyString(exchange, store, *client, *key, answering, parameters);
}

Response VerifyFailed(const Exchange& exchange, const StoreError& error)
{
    const auto parameters = ParametersOf(exchange.request);
    const Answering answering(exchange.request, parameters);
    if (!exchange.signingKey)
        return answering.Unsigned("BACKEND_ERROR");
    return answering.Signed(*exchange.signingKey,
                            error.kind() == StoreError::Kind::Unresolved ? "OUTCOME_UNKNOWN" : "BACKEND_ERROR");
}

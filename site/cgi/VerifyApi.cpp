#include "site/cgi/VerifyApi.h"

#include "site/verifier/Signature.h"
#include "site/verifier/Identity.h"
#include "site/verifier/LogonInput.h"

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

// An answer the client cannot check: it did not prove who it is.
Response Unsigned(std::string_view status, const Request& request, const std::string& nonce)
{
    return Json({{"status", std::string(status)}, {"nonce", nonce}, {"t", UtcText(request.now)}});
}

Response Signed(const ClientKey& key, std::string_view status, const Request& request, const std::string& nonce,
                const std::optional<RomBytes>& identity = std::nullopt, const std::string& account = {})
{
    Fields fields = {{"status", std::string(status)}, {"nonce", nonce}, {"t", UtcText(request.now)}};
    if (identity) {
        fields.emplace_back("identity", FormatIdentity(*identity));
        fields.emplace_back("account", account);
    }
    fields.emplace_back("h", Sign(key, fields));
    return Json(fields);
}

std::string ValueOf(const std::vector<QueryParameter>& parameters, std::string_view name)
{
    const auto found = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const QueryParameter& parameter) { return parameter.name == name; });
    return found == parameters.end() ? std::string() : found->value;
}

std::optional<int64_t> ClientId(const std::string& text)
{
    int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || id <= 0)
        return std::nullopt;
    return id;
}

bool IsNonce(const std::string& nonce)
{
    return nonce.size() >= kShortestNonce && nonce.size() <= kLongestNonce &&
           std::all_of(nonce.begin(), nonce.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

bool SignatureHolds(const ClientKey& key, const std::vector<QueryParameter>& parameters)
{
    Fields signedFields;
    for (const QueryParameter& parameter : parameters) {
        if (parameter.name != "h")
            signedFields.emplace_back(parameter.name, parameter.value);
    }
    return SameSignature(Sign(key, signedFields), ValueOf(parameters, "h"));
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

// The client proved who it is: every answer from here on is signed.
Response VerifyString(const Request& request, SiteStore& store, Verifier verify, int64_t client, const ClientKey& key,
                      const std::string& nonce, const std::string& authenticator)
{
    if (!IsNonce(nonce))
        return Signed(key, "MALFORMED", request, nonce);
    if (!store.UseNonce(client, nonce, request.now))
        return Signed(key, "REPLAYED_REQUEST", request, nonce);
    // Each application has budgets of its own, as one address would.
    const std::string origin = "client:" + std::to_string(client);
    const StringCheck check =
        CheckString(store, {origin, origin, {}}, request.now, AuthenticatorFromInput(authenticator).authenticator,
                    verify, {HashOf(request.newSession), false});
    Response response = check.outcome == Outcome::Accepted
                            ? Signed(key, "OK", request, nonce, check.identity, check.account)
                            : Signed(key, StatusOf(check.outcome), request, nonce);
    NoteFault(response, check);
    return response;
}

} // namespace

Response VerifyForClient(const Request& request, SiteStore& store, Verifier verify)
{
    const auto parameters = ParseQuery(request.query);
    const std::vector<QueryParameter> none;
    const std::string nonce = ValueOf(parameters.value_or(none), "nonce");
    const auto client = parameters ? ClientId(ValueOf(*parameters, "id")) : std::nullopt;
    std::optional<ClientKey> key;
    try {
        key = client ? store.ClientKeyOf(*client) : std::nullopt;
    } catch (const StoreError& error) {
        return VerifyUnavailable(request, error.what());
    }
    if (!key)
        return Unsigned("NO_SUCH_CLIENT", request, nonce);
    if (!SignatureHolds(*key, *parameters))
        return Unsigned("BAD_SIGNATURE", request, nonce);
    try {
        return VerifyString(request, store, verify, *client, *key, nonce, ValueOf(*parameters, "authenticator"));
    } catch (const StoreError& error) {
        // Nothing of the request was kept, or (OUTCOME_UNKNOWN) the store cannot tell.
        Response response =
            Signed(*key, error.kind() == StoreError::Kind::Unresolved ? "OUTCOME_UNKNOWN" : "BACKEND_ERROR", request,
                   nonce);
        response.log = error.what();
        response.storeFailed = true;
        return response;
    }
}

Response VerifyUnavailable(const Request& request, std::string log)
{
    const auto parameters = ParseQuery(request.query);
    Response response = Unsigned("BACKEND_ERROR", request, parameters ? ValueOf(*parameters, "nonce") : "");
    response.log = std::move(log);
    response.storeFailed = true;
    return response;
}

#include "site/cgi/Exchange.h"

#include "site/verifier/Identity.h"

namespace {

std::string_view ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 401:
        return "Unauthorized";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
    default:
        return "Internal Server Error";
    }
}

} // namespace

StringCheck CheckOffer(Exchange& exchange, SiteStore& store, const Origin& origin,
                       const std::optional<std::string>& text, const Offer& offer)
{
    const StringCheck check = store.CheckString(
        origin, exchange.request.now, kFailureBudgets, [&] { return text ? exchange.verify(*text) : Verification{}; },
        offer);
    if (!check.fault.empty())
        AddToLog(exchange.fault, check.fault);
    exchange.storeFailed = exchange.storeFailed || check.storeFailed;
    return check;
}

std::string SpentBudgetLine(const Gate& gate)
{
    if (!gate.newlyExhausted)
        return {};
    return std::string(gate.network ? "network " : "address ") + gate.exhausted +
           " spent its budget of failed sign-ins; refused unchecked for " +
           std::to_string(kFailureBudgets.windowSeconds) + " s";
}

std::string SignInLine(const StringCheck& check, std::string_view address, SignInPath path)
{
    return "signed in: account " + check.account + ", token " +
           (check.identity ? FormatIdentity(*check.identity) : "-") + ", from " + std::string(address) + ", through " +
           std::string(SignInPathWord(path));
}

void AddToLog(std::string& log, std::string_view line)
{
    log += log.empty() ? "" : "; ";
    log += line;
}

std::string CgiText(const Response& response)
{
    std::string text =
        "Status: " + std::to_string(response.status) + " " + std::string(ReasonPhrase(response.status)) + "\r\n";
    for (const auto& [name, value] : response.headers)
        text += name + ": " + value + "\r\n";
    return text + "\r\n" + response.body;
}

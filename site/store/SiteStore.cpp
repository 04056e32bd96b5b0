#include "site/store/SiteStore.h"

#include <ctime>

std::string_view OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Accepted:
        return "accepted";
    case Outcome::Malformed:
        return "malformed";
    case Outcome::NotGenuine:
        return "not-genuine";
    case Outcome::NotEnrolled:
        return "not-enrolled";
    case Outcome::Revoked:
        return "revoked";
    case Outcome::AlreadyUsed:
        return "already-used";
    case Outcome::TooManyFailures:
        return "too-many-failures";
    case Outcome::Pending:
        return "pending";
    }
    return "unknown";
}

std::string UtcText(int64_t at, const char* format)
{
    const auto seconds = static_cast<std::time_t>(at);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, format, &parts));
}

StringCheck SiteStore::CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                                   const std::optional<SessionHash>& session)
{
    StringCheck check;
    check.gate = Charge(origin, now, budgets);
    if (!check.gate.attempt) {
        check.outcome = Outcome::TooManyFailures;
        return check;
    }
    const Verification verification = search();
    check.identity = verification.identity;
    if (verification.verdict != Verdict::Genuine) {
        check.outcome = verification.verdict == Verdict::Malformed ? Outcome::Malformed : Outcome::NotGenuine;
        Settle(*check.gate.attempt, check.outcome, verification.identity);
        return check;
    }
    const Admission admission = Admit({*check.gate.attempt, now, *verification.identity, verification.seed, session});
    check.outcome = admission.outcome;
    check.account = admission.account;
    return check;
}

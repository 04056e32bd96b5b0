#include "site/store/SiteStore.h"

#include <ctime>

std::string_view StoreError::KindName() const
{
    switch (m_kind) {
    case Kind::Busy:
        return "busy";
    case Kind::Full:
        return "full";
    case Kind::Unreachable:
        return "unreachable";
    case Kind::Unresolved:
        return "unresolved";
    case Kind::Broken:
        break;
    }
    return "broken";
}

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

std::string_view SignInPathWord(SignInPath path)
{
    switch (path) {
    case SignInPath::Page:
        return "page";
    case SignInPath::Api:
        return "api";
    case SignInPath::Oidc:
        return "oidc";
    }
    return "page";
}

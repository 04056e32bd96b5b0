#include "site/store/SiteStore.h"

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

#pragma once
// What the login page needs from the site's records, kept narrow so that one store can later
// serve several web servers (see ARCHITECTURE.md). Every call is one step of its own: a
// string is accepted at most once even when several processes offer it at the same moment.
#include "logon/Authenticator.h"

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The store could not be read or written; the message names the store and says why.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How one sign-in attempt ended.
enum class Outcome { Accepted, Malformed, NotGenuine, NotEnrolled, Revoked, AlreadyUsed, TooManyFailures };

// As the operator reads it: one lower-case word.
std::string_view OutcomeName(Outcome outcome);

struct Attempt {
    int64_t at = 0; // seconds since 1970
    std::string address;
    std::optional<RomBytes> identity;
    Outcome outcome = Outcome::Malformed;
};

// A session is known only by the SHA-256 of its token, so the store never holds a token.
using SessionHash = std::array<uint8_t, 32>;

// A genuine string offered for sign-in.
struct Claim {
    int64_t at = 0;
    std::string address;
    RomBytes identity{};
    uint32_t seed = 0;
    SessionHash session{};
};

struct Admission {
    Outcome outcome = Outcome::NotEnrolled; // Accepted, NotEnrolled, Revoked or AlreadyUsed
    std::string account;                    // when accepted
};

class SiteStore {
public:
    virtual ~SiteStore() = default;

    // Attempts that were not accepted from address at or after since, counted up to limit.
    virtual int CountFailures(std::string_view address, int64_t since, int limit) = 0;
    virtual void Record(const Attempt& attempt) = 0;
    // Accepts (identity, seed) of an enrolled, unrevoked token once ever: then opens the
    // session. Records the attempt either way.
    virtual Admission Admit(const Claim& claim) = 0;
    // The account of a session opened at or after openedSince whose token is still enrolled.
    virtual std::optional<std::string> SessionAccount(const SessionHash& session, int64_t openedSince) = 0;
};

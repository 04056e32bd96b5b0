#pragma once
// The site store in memory, with the same rules as the site database, for the login page's
// tests and its fuzzing. It can be told to fail like a busy or broken database.
#include "site/store/SiteStore.h"
#include "site/verifier/Identity.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

class InMemorySiteStore final : public SiteStore {
public:
    void Enroll(const RomBytes& identity, std::string account) { m_accounts[identity] = std::move(account); }
    void Revoke(const RomBytes& identity) { m_revoked.insert(identity); }

    int CountFailures(std::string_view address, int64_t since, int limit) override
    {
        ThrowIfBroken();
        const auto failures = std::count_if(attempts.begin(), attempts.end(), [&](const Attempt& a) {
            return a.address == address && a.at >= since && a.outcome != Outcome::Accepted;
        });
        return static_cast<int>(std::min<std::ptrdiff_t>(failures, limit));
    }

    void Record(const Attempt& attempt) override
    {
        ThrowIfBroken();
        attempts.push_back(attempt);
    }

    Admission Admit(const Claim& claim) override
    {
        ThrowIfBroken();
        ++admitCalls;
        Admission admission{Outcome::NotEnrolled, {}};
        const auto account = m_accounts.find(claim.identity);
        if (account != m_accounts.end() && m_revoked.count(claim.identity))
            admission.outcome = Outcome::Revoked;
        else if (account != m_accounts.end() && !m_used.insert({claim.identity, claim.seed}).second)
            admission.outcome = Outcome::AlreadyUsed;
        else if (account != m_accounts.end())
            admission = {Outcome::Accepted, account->second};
        if (admission.outcome == Outcome::Accepted)
            m_sessions[claim.session] = {claim.identity, claim.at};
        attempts.push_back({claim.at, claim.address, claim.identity, admission.outcome});
        return admission;
    }

    std::optional<std::string> SessionAccount(const SessionHash& session, int64_t openedSince) override
    {
        ThrowIfBroken();
        const auto found = m_sessions.find(session);
        if (found == m_sessions.end() || found->second.second < openedSince || m_revoked.count(found->second.first))
            return std::nullopt;
        return m_accounts.at(found->second.first);
    }

    std::vector<Attempt> attempts;
    int admitCalls = 0;
    bool broken = false;

private:
    void ThrowIfBroken() const
    {
        if (broken)
            throw StoreError("site.db stayed busy: another process held it too long");
    }

    std::map<RomBytes, std::string> m_accounts;
    std::set<RomBytes> m_revoked;
    std::set<std::pair<RomBytes, uint32_t>> m_used;
    std::map<SessionHash, std::pair<RomBytes, int64_t>> m_sessions;
};

#pragma once
// The site store in memory, with the same rules as the site database (the budgets' order is the
// stores' own), for the login page's tests and its fuzzing. It can be told to fail like a busy
// or broken database.
#include "site/store/SiteStore.h"
#include "site/store/StoreRules.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

class InMemorySiteStore final : public SiteStore {
public:
    struct Attempt {
        int64_t at = 0;
        Origin origin;
        std::optional<RomBytes> identity;
        Outcome outcome = Outcome::Pending;
    };

    void Enroll(const RomBytes& identity, std::string account)
    {
        m_accounts[identity] = std::move(account);
        m_revoked.erase(identity);
        EndSessionsOf(identity);
    }
    void Revoke(const RomBytes& identity)
    {
        m_revoked.insert(identity);
        EndSessionsOf(identity);
    }

    Gate Charge(const Origin& origin, int64_t now, const Budgets& budgets) override
    {
        ThrowIfBroken();
        const auto failures = [&](auto key, const std::string& value) {
            return value.empty() ? 0 : std::count_if(attempts.begin(), attempts.end(), [&](const Attempt& a) {
                return a.origin.*key == value && a.at >= now - budgets.windowSeconds && a.outcome != Outcome::Accepted;
            });
        };
        Gate gate;
        gate.exhausted =
            SpentBudget(origin, budgets, failures(&Origin::address, origin.address),
                        failures(&Origin::network, origin.network), failures(&Origin::wideNetwork, origin.wideNetwork));
        if (!gate.exhausted.empty()) {
            ++refusals;
            gate.networkNewlyExhausted = gate.exhausted != origin.address && m_braked.insert(gate.exhausted).second;
            return gate;
        }
        attempts.push_back({now, origin, std::nullopt, Outcome::Pending});
        gate.attempt = static_cast<int64_t>(attempts.size() - 1);
        return gate;
    }

    void Settle(int64_t attempt, Outcome outcome, const std::optional<RomBytes>& identity) override
    {
        ThrowIfBroken();
        attempts.at(static_cast<std::size_t>(attempt)).outcome = outcome;
        attempts.at(static_cast<std::size_t>(attempt)).identity = identity;
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
        if (admission.outcome == Outcome::Accepted && claim.session)
            m_sessions[*claim.session] = {claim.identity, claim.at};
        Settle(claim.attempt, admission.outcome, claim.identity);
        return admission;
    }

    std::optional<SessionHolder> FindSession(const SessionHash& session, int64_t openedSince) override
    {
        ThrowIfBroken();
        const auto found = m_sessions.find(session);
        if (found == m_sessions.end() || found->second.second < openedSince)
            return std::nullopt;
        return SessionHolder{m_accounts.at(found->second.first), found->second.first};
    }

    void EndSession(const SessionHash& session) override
    {
        ThrowIfBroken();
        m_sessions.erase(session);
    }

    std::optional<ClientKey> ClientKeyOf(int64_t client) override
    {
        ThrowIfBroken();
        const auto found = clients.find(client);
        return found == clients.end() ? std::nullopt : std::optional(found->second);
    }

    bool UseNonce(int64_t client, std::string_view nonce, int64_t now) override
    {
        ThrowIfBroken();
        auto [seen, first] = m_nonces.try_emplace({client, std::string(nonce)}, now);
        if (first || seen->second < now - kNonceKeepSeconds) {
            seen->second = now;
            return true;
        }
        return false;
    }

    void Tidy(int64_t) override
    {
        ++tidyCalls;
        if (tidyFails)
            throw StoreError("site.db: the disk is full", StoreError::Kind::Full);
    }

    std::vector<Attempt> attempts;
    std::map<int64_t, ClientKey> clients;
    int admitCalls = 0;
    int refusals = 0;
    int tidyCalls = 0;
    bool broken = false;
    bool tidyFails = false;
    StoreError::Kind failure = StoreError::Kind::Busy;

private:
    void ThrowIfBroken() const
    {
        if (broken)
            throw StoreError("site.db stayed busy: another process held it too long", failure);
    }

    void EndSessionsOf(const RomBytes& identity)
    {
        std::erase_if(m_sessions, [&](const auto& entry) { return entry.second.first == identity; });
    }

    std::map<RomBytes, std::string> m_accounts;
    std::set<RomBytes> m_revoked;
    std::set<std::pair<RomBytes, uint32_t>> m_used;
    std::map<SessionHash, std::pair<RomBytes, int64_t>> m_sessions;
    std::set<std::string> m_braked;
    std::map<std::pair<int64_t, std::string>, int64_t> m_nonces;
};

#pragma once
// The site store in memory, for the login page's tests and its fuzzing: a check goes in the
// order every store's does (CheckOffered, SpentBudget), over records held in memory. It can be
// told to fail like a busy or broken database.
#include "site/store/SiteStore.h"
#include "site/store/StoreRules.h"
#include "site/verifier/Identity.h"

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
        Outcome outcome = Outcome::Malformed;
    };

    void Enroll(const RomBytes& identity, std::string account)
    {
        m_accounts[identity] = std::move(account);
        m_revoked.erase(identity);
        EndSessionsOf(identity);
    }
    RevokeResult Revoke(const RomBytes& identity, int64_t) override
    {
        ThrowIfBroken();
        if (!m_accounts.count(identity))
            return RevokeResult::NotEnrolled;
        if (!m_revoked.insert(identity).second)
            return RevokeResult::AlreadyRevoked;
        EndSessionsOf(identity);
        return RevokeResult::Revoked;
    }

    StringCheck CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer) override
    {
        ThrowIfBroken();
        return CheckOffered([&] { return Gauge(origin, now, budgets); }, search,
                            [&](Outcome outcome, const std::optional<RomBytes>& identity) {
                                attempts.push_back({now, origin, identity, outcome});
                            },
                            [&](const Verification& genuine) {
                                const Admission admission = AdmitString(*genuine.identity, genuine.seed, now, offer);
                                attempts.push_back({now, origin, genuine.identity, admission.outcome});
                                return admission;
                            });
    }

    std::optional<SessionHolder> FindSession(const SessionHash& session, int64_t openedSince) override
    {
        ThrowIfBroken();
        const auto found = m_sessions.find(session);
        if (found == m_sessions.end() || found->second.second < openedSince)
            return std::nullopt;
        return SessionHolder{m_accounts.at(found->second.first), found->second.first, found->second.second};
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

    // The attempts by outcome, and the counts added.
    StoreFigures Figures(int64_t) override
    {
        ThrowIfBroken();
        StoreFigures figures{counts, 4096};
        for (const Attempt& attempt : attempts)
            ++figures.counts[{std::string(kCheckedCount), std::string(OutcomeName(attempt.outcome))}];
        return figures;
    }

    void AddCounts(const Counts& added) override
    {
        ThrowIfBroken();
        for (const auto& [name, count] : added)
            counts[name] += count;
    }

    bool IsAdmin(std::string_view account) override
    {
        ThrowIfBroken();
        return admins.count(std::string(account)) > 0;
    }

    // The tokens, each with its state.
    SiteOverview Overview(const OverviewRequest&) override
    {
        ThrowIfBroken();
        SiteOverview overview;
        for (const auto& [identity, account] : m_accounts)
            overview.tokens.push_back({FormatIdentity(identity), account, m_revoked.count(identity) > 0, {}});
        return overview;
    }
    // The provider's records are the real stores' to keep (OidcProviderTest runs on a file).
    std::optional<ProviderClient> FindProviderClient(std::string_view) override { throw NotKept(); }
    ProviderKeys ReadProviderKeys() override { throw NotKept(); }
    void StartProvider(const ProviderHash&, const ProviderKey&) override { throw NotKept(); }
    void AwaitSignIn(const ProviderHash&, std::string_view, int64_t, int64_t) override { throw NotKept(); }
    std::optional<PendingAuthorization> FindPendingAuthorization(const ProviderHash&, int64_t) override
    {
        throw NotKept();
    }
    bool IssueCode(const ProviderCode&, const std::optional<ProviderHash>&, int64_t) override { throw NotKept(); }
    CodeRedemption RedeemCode(const ProviderHash&, int64_t, const CodeJudgement&) override { throw NotKept(); }
    std::optional<SessionHolder> FindAccessToken(const ProviderHash&, int64_t) override { throw NotKept(); }

    std::vector<Attempt> attempts;
    std::map<int64_t, ClientKey> clients;
    std::set<std::string> admins;
    Counts counts;
    int admitCalls = 0;
    int tidyCalls = 0;
    bool broken = false;
    bool tidyFails = false;
    StoreError::Kind failure = StoreError::Kind::Busy;

private:
    Gate Gauge(const Origin& origin, int64_t now, const Budgets& budgets)
    {
        const auto failures = [&](auto key, const std::string& value) {
            return value.empty() ? 0 : std::count_if(attempts.begin(), attempts.end(), [&](const Attempt& a) {
                return a.origin.*key == value && a.at >= now - budgets.windowSeconds && a.outcome != Outcome::Accepted;
            });
        };
        Gate gate;
        gate.exhausted =
            SpentBudget(origin, budgets, failures(&Origin::address, origin.address),
                        failures(&Origin::network, origin.network), failures(&Origin::wideNetwork, origin.wideNetwork));
        gate.network = !gate.exhausted.empty() && gate.exhausted != origin.address;
        gate.newlyExhausted = !gate.exhausted.empty() && m_braked.insert(gate.exhausted).second;
        return gate;
    }

    Admission AdmitString(const RomBytes& identity, uint32_t seed, int64_t at, const Offer& offer)
    {
        ++admitCalls;
        const auto account = m_accounts.find(identity);
        if (account == m_accounts.end())
            return {Outcome::NotEnrolled, {}};
        if (m_revoked.count(identity))
            return {Outcome::Revoked, {}};
        if (!m_used.insert({identity, seed}).second)
            return {Outcome::AlreadyUsed, {}};
        if (offer.opensSession)
            m_sessions[offer.mark] = {identity, at};
        return {Outcome::Accepted, account->second};
    }

    static StoreError NotKept() { return StoreError("the provider's records are not kept in memory"); }

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

#pragma once
// The contract every site store keeps (SiteStore.h), as one suite of tests run against each
// store: strings accepted once, budgets that hold, sessions, revocation, the clean-up, the
// operator's check, applications' clients and nonces, and faults met at each step with the
// answer compared with what the store holds after. What several web servers do at once is
// played by threads with stores of their own. Each store's test program includes this once and
// instantiates the suite with a type that makes its stores (SqliteStores, PostgresStores):
//
//   Stores();                                        a fresh, initialised store of its own
//   std::string Unavailable() const;                 why the store cannot be had here, or ""
//   std::unique_ptr<OperatorStore> Open(StoreUse);   the store as a process opens it
//   void Sql(const std::string&);                    SQL run as another program would
//   std::vector<std::string> Faults() const;         the faults it can inject, by name
//   void Arm(std::size_t fault); void Disarm();      the next operation meets that fault
#include "site/store/SiteStore.h"

#include "StoreErrorOf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

template <typename Stores>
class StoreContract : public ::testing::Test {
public:
    std::unique_ptr<OperatorStore> Open(StoreUse use = StoreUse::OneRequest) { return m_stores.Open(use); }

protected:
    void SetUp() override
    {
        if (const std::string why = m_stores.Unavailable(); !why.empty())
            GTEST_SKIP() << why;
    }

    Stores m_stores;
};

TYPED_TEST_SUITE_P(StoreContract);

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const RomBytes kBob = {0x28, 0, 0, 0, 0, 0, 0, 0x42};
const Origin kHome{"192.0.2.7", "192.0.2.0/24", ""};
constexpr int kServers = 8;

Search Genuine(const RomBytes& identity, uint32_t seed)
{
    return [identity, seed] { return Verification{Verdict::Genuine, identity, seed}; };
}

Search Junk()
{
    return [] { return Verification{Verdict::NotGenuine, kAlice, 0}; };
}

// A logon's offer under a mark of its own (the marks of one test differ in their first bytes).
Offer Logon(uint32_t mark)
{
    SessionHash hash{};
    for (std::size_t i = 0; i < 4; ++i)
        hash[i] = static_cast<uint8_t>(mark >> (8 * i));
    hash[31] = 0xA5;
    return {hash, true};
}

Offer Application(uint32_t mark)
{
    return {Logon(mark).mark, false};
}

Outcome Check(SiteStore& store, const Search& search, const Offer& offer, int64_t at = 1000,
              const Origin& origin = kHome, const Budgets& budgets = {})
{
    return store.CheckString(origin, at, budgets, search, offer).outcome;
}

Origin OwnOrigin(int n)
{
    return {"198.51." + std::to_string(100 + n / 250) + "." + std::to_string(n % 250 + 1),
            "198.51." + std::to_string(100 + n / 250) + ".0/24", ""};
}

// Runs action(store, server) on kServers stores at once, each opened as its own web server
// would; each starts when all are open.
template <typename Contract, typename Action>
void OnEveryServer(Contract& contract, StoreUse use, Action action)
{
    std::atomic<int> ready{0};
    std::vector<std::thread> servers;
    for (int i = 0; i < kServers; ++i) {
        servers.emplace_back([&, i] {
            const auto store = contract.Open(use);
            ++ready;
            while (ready < kServers)
                std::this_thread::yield();
            action(*store, i);
        });
    }
    for (std::thread& server : servers)
        server.join();
}

} // namespace

TYPED_TEST_P(StoreContract, EnrolsRevokesAndEnrolsAgain)
{
    const auto store = this->Open();
    EXPECT_EQ(EnrollResult::Enrolled, store->Enroll(kBob, "bob", 1));
    EXPECT_EQ(EnrollResult::Enrolled, store->Enroll(kAlice, "alice", 1));
    EXPECT_EQ(EnrollResult::AlreadyEnrolled, store->Enroll(kAlice, "mallory", 2));
    EXPECT_EQ(RevokeResult::Revoked, store->Revoke(kAlice, 3));
    EXPECT_EQ(RevokeResult::AlreadyRevoked, store->Revoke(kAlice, 4));
    EXPECT_EQ(RevokeResult::NotEnrolled, store->Revoke(RomBytes{}, 4));
    auto tokens = store->Tokens();
    ASSERT_EQ(2u, tokens.size());
    EXPECT_EQ("0123456789ABCDEF", tokens[0].identity);
    EXPECT_EQ("alice", tokens[0].account);
    EXPECT_TRUE(tokens[0].revoked);
    EXPECT_FALSE(tokens[1].revoked);
    EXPECT_EQ(EnrollResult::Enrolled, store->Enroll(kAlice, "alice2", 5));
    tokens = store->Tokens();
    EXPECT_EQ("alice2", tokens[0].account);
    EXPECT_FALSE(tokens[0].revoked);
}

TYPED_TEST_P(StoreContract, AcceptsEachIdentityAndSeedOnceAndRecordsEveryAttempt)
{
    const auto store = this->Open(StoreUse::LongLived);
    EXPECT_EQ(Outcome::NotEnrolled, Check(*store, Genuine(kAlice, 7), Logon(1)));
    store->Enroll(kAlice, "alice", 1);
    store->Enroll(kBob, "bob", 1);
    const StringCheck first = store->CheckString(kHome, 1000, {}, Genuine(kAlice, 7), Logon(2));
    EXPECT_EQ(Outcome::Accepted, first.outcome);
    EXPECT_EQ("alice", first.account);
    EXPECT_EQ(kAlice, first.identity);
    EXPECT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, 7), Logon(3), 1001));
    // The same seed for another token, or another seed for the same token, is another string.
    EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kBob, 7), Logon(4), 1002));
    EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 8), Application(5), 1003));
    store->Revoke(kAlice, 1004);
    EXPECT_EQ(Outcome::Revoked, Check(*store, Genuine(kAlice, 9), Logon(6), 1005));
    EXPECT_EQ(Outcome::Malformed,
              Check(*store, [] { return Verification{}; }, Logon(7), 1006, {"198.51.100.1", "198.51.100.0/24", ""}));

    const auto attempts = store->RecentAttempts(3);
    ASSERT_EQ(3u, attempts.size());
    EXPECT_EQ(1006, attempts[0].at);
    EXPECT_EQ("198.51.100.1", attempts[0].address);
    EXPECT_EQ(std::nullopt, attempts[0].identity);
    EXPECT_EQ("malformed", attempts[0].outcome);
    EXPECT_EQ("0123456789ABCDEF", attempts[1].identity);
    EXPECT_EQ("revoked", attempts[1].outcome);
    EXPECT_EQ("accepted", attempts[2].outcome);
    EXPECT_EQ(7u, store->RecentAttempts(100).size());
}

// A search that throws, or a session that cannot be opened (its mark already holds one), leaves
// nothing behind: no attempt, and the string unused. The store serves the next check.
TYPED_TEST_P(StoreContract, ACheckThatFailsHalfwayIsRolledBack)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    const auto failing = []() -> Verification { throw std::runtime_error("search failed"); };
    EXPECT_THROW(store->CheckString(kHome, 1000, {}, failing, Logon(1)), std::runtime_error);
    EXPECT_TRUE(store->RecentAttempts(10).empty());
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 7), Logon(9)));
    EXPECT_NE("no error", ErrorOf([&] { Check(*store, Genuine(kAlice, 8), Logon(9)); }));
    EXPECT_EQ(1u, store->RecentAttempts(10).size());
    EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 8), Logon(10)));
}

TYPED_TEST_P(StoreContract, SessionsLastTheirLifetimeAndEndWithSignOutRevocationAndNewEnrolment)
{
    const auto server = this->Open(StoreUse::LongLived);
    const auto operatorStore = this->Open();
    operatorStore->Enroll(kAlice, "carol", 1);
    const Offer first = Logon(9);
    ASSERT_EQ(Outcome::Accepted, Check(*server, Genuine(kAlice, 7), first));
    EXPECT_EQ("carol", server->FindSession(first.mark, 1000)->account);
    EXPECT_EQ(kAlice, server->FindSession(first.mark, 1000)->identity);
    EXPECT_EQ(std::nullopt, server->FindSession(first.mark, 1001)) << "older than allowed";
    EXPECT_EQ(std::nullopt, server->FindSession(Logon(8).mark, 0));
    // A refused string opens no session, nor does an application's check.
    EXPECT_EQ(Outcome::AlreadyUsed, Check(*server, Genuine(kAlice, 7), Logon(10)));
    EXPECT_EQ(std::nullopt, server->FindSession(Logon(10).mark, 0));
    ASSERT_EQ(Outcome::Accepted, Check(*server, Genuine(kAlice, 6), Application(11)));
    EXPECT_EQ(std::nullopt, server->FindSession(Logon(11).mark, 0));

    ASSERT_EQ(Outcome::Accepted, Check(*server, Genuine(kAlice, 8), Logon(12)));
    server->EndSession(Logon(12).mark);
    EXPECT_EQ(std::nullopt, server->FindSession(Logon(12).mark, 0));

    // Revoked on the operator's connection: over on the server's at once. A token handed to a
    // new holder never brings the old holder's sessions back.
    EXPECT_EQ(RevokeResult::Revoked, operatorStore->Revoke(kAlice, 1002));
    EXPECT_EQ(std::nullopt, server->FindSession(first.mark, 0));
    operatorStore->Enroll(kAlice, "mallory", 1003);
    EXPECT_EQ(std::nullopt, server->FindSession(first.mark, 0));
}

TYPED_TEST_P(StoreContract, BudgetsOfAnAddressAndItsNetworksHoldAndRefusalsCostNoRows)
{
    const auto store = this->Open(StoreUse::LongLived);
    const Budgets budgets;
    for (int i = 0; i < budgets.address; ++i)
        ASSERT_EQ(Outcome::NotGenuine, Check(*store, Junk(), Logon(i), 100 + i));
    StringCheck refused = store->CheckString(kHome, 130, budgets, Junk(), Logon(100));
    EXPECT_EQ(Outcome::TooManyFailures, refused.outcome);
    EXPECT_EQ("192.0.2.7", refused.gate.exhausted);
    EXPECT_FALSE(refused.gate.network);
    EXPECT_TRUE(refused.gate.newlyExhausted);
    EXPECT_FALSE(store->CheckString(kHome, 131, budgets, Junk(), Logon(102)).gate.newlyExhausted);
    EXPECT_EQ(Outcome::NotGenuine, Check(*store, Junk(), Logon(101), 100 + budgets.windowSeconds + 1));

    const Origin six{"2001:db8:0:1::1", "2001:db8:0:1::/64", "2001:db8::/48"};
    for (int i = 0; i < budgets.wideNetwork; ++i)
        Check(
            *store, Junk(), Logon(200 + i), 200,
            {"2001:db8:0:" + std::to_string(i) + "::1", "2001:db8:0:" + std::to_string(i) + "::/64", "2001:db8::/48"});
    refused = store->CheckString(six, 201, budgets, Junk(), Logon(400));
    EXPECT_EQ("2001:db8::/48", refused.gate.exhausted);
    EXPECT_TRUE(refused.gate.network);
    EXPECT_TRUE(refused.gate.newlyExhausted);
    EXPECT_FALSE(store->CheckString(six, 202, budgets, Junk(), Logon(401)).gate.newlyExhausted);
    EXPECT_EQ(Outcome::NotGenuine, Check(*store, Junk(), Logon(402), 200 + budgets.windowSeconds + 1, six));

    const std::size_t rows = store->RecentAttempts(100000).size();
    for (int i = 0; i < 300; ++i)
        Check(*store, Junk(), Logon(500 + i), 203, six);
    EXPECT_EQ(rows, store->RecentAttempts(100000).size());
    int64_t refusals = 0;
    for (const DailyCount& count : store->DailyCounts(0))
        refusals += count.outcome == "too-many-failures" ? count.count : 0;
    EXPECT_EQ(304, refusals);
    const auto failures = store->FailuresByNetwork(0);
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ("192.0.2.0/24", failures[0].network);
    EXPECT_EQ(budgets.address + 1, failures[0].failures);
    EXPECT_EQ(1, failures[0].addresses);
}

// Round after round, every server checks junk from the same fresh origin at the same moment:
// exactly its budget is checked, never more.
TYPED_TEST_P(StoreContract, ABudgetIsNeverOverspentByServersCheckingAtOnce)
{
    constexpr int kRounds = 10;
    const Budgets budgets{60, 3, 100, 100};
    std::barrier together(kServers);
    std::vector<std::atomic<int>> checked(kRounds);
    OnEveryServer(*this, StoreUse::OneRequest, [&](OperatorStore& store, int server) {
        for (int round = 0; round < kRounds; ++round) {
            const std::string network = "10.0." + std::to_string(round);
            together.arrive_and_wait();
            const Outcome outcome = Check(store, Junk(), Logon(round * kServers + server), 1000,
                                          {network + ".1", network + ".0/24", ""}, budgets);
            checked[round] += outcome == Outcome::NotGenuine ? 1 : 0;
        }
    });
    for (int round = 0; round < kRounds; ++round)
        EXPECT_EQ(budgets.address, checked[round]) << "round " << round;
}

// One string offered on every server at once is accepted once; each server's own strings are
// each accepted; junk from one address at once is checked exactly up to its budget.
TYPED_TEST_P(StoreContract, ServersCheckingAtOnceAcceptEachStringOnceAndKeepTheBudgets)
{
    this->Open()->Enroll(kAlice, "alice", 1);
    std::atomic<int> acceptedOnce = 0, acceptedEach = 0, checked = 0, refused = 0;
    OnEveryServer(*this, StoreUse::LongLived, [&](OperatorStore& store, int server) {
        acceptedOnce += Check(store, Genuine(kAlice, 7), Logon(server), 1000, OwnOrigin(server)) == Outcome::Accepted;
        acceptedEach += Check(store, Genuine(kAlice, 100 + server), Application(100 + server), 1000,
                              OwnOrigin(server)) == Outcome::Accepted;
        for (int n = 0; n < 4; ++n) {
            const Outcome outcome = Check(store, Junk(), Logon(200 + 10 * server + n));
            checked += outcome == Outcome::NotGenuine;
            refused += outcome == Outcome::TooManyFailures;
        }
    });
    EXPECT_EQ(1, acceptedOnce.load());
    EXPECT_EQ(kServers, acceptedEach.load());
    EXPECT_EQ(Budgets{}.address, checked.load());
    EXPECT_EQ(4 * kServers - Budgets{}.address, refused.load());
    EXPECT_TRUE(this->Open()->Check().empty());
}

TYPED_TEST_P(StoreContract, TidyingFoldsOldAttemptsIntoDailyCountsAndForgetsExpiredSessions)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    constexpr int64_t kDay = 1'800'000'000 - 1'800'000'000 % 86400;
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 1), Logon(1), kDay + 10));
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 2), Logon(2), kDay + kAttemptKeepSeconds));
    const Budgets open{60, 1000, 1000, 1000};
    for (int i = 0; i < 300; ++i)
        Check(*store, Junk(), Logon(100 + i), kDay + 2 * i, {"192.0.2." + std::to_string(i % 3), "192.0.2.0/24", ""},
              open);

    const int64_t later = kDay + kSessionLifetimeSeconds + 20;
    store->Tidy(later);
    EXPECT_EQ(174u, store->RecentAttempts(1000).size()) << "one round folds 128";
    const auto beforeFolding = store->DailyCounts(kDay);
    ASSERT_EQ(2u, beforeFolding.size()) << "the attempts not yet folded are counted too";
    EXPECT_EQ(300, beforeFolding[0].count);
    EXPECT_EQ(2, beforeFolding[1].count);
    EXPECT_EQ(std::nullopt, store->FindSession(Logon(1).mark, 0));
    EXPECT_TRUE(store->FindSession(Logon(2).mark, 0));

    const PruneReport report = store->Prune(later);
    EXPECT_EQ(174, report.attemptsFolded);
    EXPECT_TRUE(store->RecentAttempts(1000).empty());
    const auto counts = store->DailyCounts(kDay);
    ASSERT_EQ(2u, counts.size());
    EXPECT_EQ(300, counts[0].count);
    EXPECT_EQ("192.0.2.0/24", counts[0].network);
    EXPECT_EQ("accepted", counts[1].outcome);
    EXPECT_EQ(2, counts[1].count);
    EXPECT_EQ(kDay, counts[1].day);
    EXPECT_TRUE(store->Check().empty());
}

TYPED_TEST_P(StoreContract, ServersTidyingAtOnceCountEachOldAttemptOnce)
{
    {
        const auto store = this->Open();
        for (int i = 0; i < 200; ++i)
            Check(*store, Junk(), Logon(i), 1000, OwnOrigin(i), {60, 1000, 1000, 1000});
    }
    OnEveryServer(*this, StoreUse::OneRequest, [](OperatorStore& store, int) {
        for (int i = 0; i < 3; ++i)
            store.Tidy(1000 + kAttemptKeepSeconds + 1);
    });
    const auto store = this->Open();
    int64_t counted = 0;
    for (const DailyCount& count : store->DailyCounts(0))
        counted += count.count;
    EXPECT_EQ(200, counted);
    EXPECT_TRUE(store->RecentAttempts(10).empty());
}

TYPED_TEST_P(StoreContract, CheckNamesWhatDiffersFromTheSchemaAndBrokenRows)
{
    {
        const auto store = this->Open();
        store->Enroll(kAlice, "alice", 1);
        ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 7), Logon(1)));
        EXPECT_TRUE(store->Check().empty());
    }
    this->m_stores.Sql("DELETE FROM tokens; DROP INDEX sessions_by_age; CREATE TABLE extra(x INTEGER);"
                       " INSERT INTO used_strings VALUES('0123456789ABCDEF', -1, 5, NULL)");
    const auto faults = this->Open()->Check();
    const std::string all = ::testing::PrintToString(faults);
    EXPECT_EQ(6u, faults.size()) << all;
    for (const char* part : {"missing or changed: index sessions_by_age", "not made by entravo-site: table extra",
                             "seed out of range: -1", "(seed 7) has no token row", "session of 0123456789ABCDEF"})
        EXPECT_NE(std::string::npos, all.find(part)) << part << " in " << all;
}

TYPED_TEST_P(StoreContract, AClientsKeyComesBackAndEachNonceServesOnceOnEveryServer)
{
    const auto operatorStore = this->Open();
    ClientKey key{};
    key[0] = 0xA5;
    key[31] = 0x5A;
    const int64_t client = operatorStore->AddClient("shop", key, 1000);
    EXPECT_EQ(key, operatorStore->ClientKeyOf(client));
    ASSERT_EQ(1u, operatorStore->Clients().size());
    EXPECT_EQ("shop", operatorStore->Clients()[0].name);
    std::atomic<int> fresh{0};
    OnEveryServer(*this, StoreUse::LongLived,
                  [&](OperatorStore& store, int) { fresh += store.UseNonce(client, "n-1", 2000) ? 1 : 0; });
    EXPECT_EQ(1, fresh);
    EXPECT_FALSE(operatorStore->UseNonce(client, "n-1", 2000 + kNonceKeepSeconds)) << "remembered long enough";
    EXPECT_TRUE(operatorStore->UseNonce(client, "n-1", 2000 + kNonceKeepSeconds + 1)) << "forgotten in time";
    EXPECT_TRUE(operatorStore->RemoveClient(client));
    EXPECT_FALSE(operatorStore->RemoveClient(client));
    EXPECT_FALSE(operatorStore->ClientKeyOf(client));
    EXPECT_TRUE(operatorStore->Check().empty());
}

// Each fault the store can meet, at each step of a logon: the answer says what the store holds
// after. Accepted: the string is used up and the session open. An error: nothing was kept, and
// the string is accepted when offered again. Never an error for a string that is used.
TYPED_TEST_P(StoreContract, EveryFaultLeavesALogonsAnswerAndTheStoreAgreeing)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    const std::vector<std::string> faults = this->m_stores.Faults();
    for (std::size_t fault = 0; fault < faults.size(); ++fault) {
        SCOPED_TRACE(faults[fault]);
        const uint32_t seed = 1000 + static_cast<uint32_t>(fault);
        this->m_stores.Arm(fault);
        std::optional<Outcome> outcome;
        std::string error;
        try {
            outcome = Check(*store, Genuine(kAlice, seed), Logon(seed));
        } catch (const StoreError& failure) {
            EXPECT_NE(StoreError::Kind::Unresolved, failure.kind()) << "the store came back to be asked";
            error = failure.what();
        }
        this->m_stores.Disarm();
        if (outcome) {
            EXPECT_EQ(Outcome::Accepted, *outcome);
            EXPECT_TRUE(store->FindSession(Logon(seed).mark, 0)) << "its session is open";
            EXPECT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, seed), Logon(seed + 500)));
        } else {
            EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, seed), Logon(seed + 500)))
                << "answered '" << error << "', so the string must be unused";
        }
    }
}

// The same for an application's verification: its client's key, its nonce, then the string.
// A nonce is new the first time only: a fault may lose it (the application sends every request
// with a new one), but may never make its own first request a replay.
TYPED_TEST_P(StoreContract, EveryFaultLeavesAVerificationsAnswerAndTheStoreAgreeing)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    const int64_t client = store->AddClient("shop", ClientKey{1}, 1);
    const std::vector<std::string> faults = this->m_stores.Faults();
    for (std::size_t fault = 0; fault < faults.size(); ++fault) {
        SCOPED_TRACE(faults[fault]);
        const uint32_t seed = 2000 + static_cast<uint32_t>(fault);
        const std::string nonce = "nonce" + std::to_string(seed);
        std::optional<bool> fresh;
        std::optional<Outcome> outcome;
        this->m_stores.Arm(fault);
        try {
            ASSERT_EQ(ClientKey{1}, store->ClientKeyOf(client));
            fresh = store->UseNonce(client, nonce, 1000);
            outcome = Check(*store, Genuine(kAlice, seed), Application(seed), 1000, {"client:1", "client:1", ""});
        } catch (const StoreError& failure) {
            EXPECT_NE(StoreError::Kind::Unresolved, failure.kind()) << "the store came back to be asked";
        }
        this->m_stores.Disarm();
        if (fresh) {
            EXPECT_TRUE(*fresh) << "a new nonce is new";
            EXPECT_FALSE(store->UseNonce(client, nonce, 1001)) << "and then used";
        }
        if (outcome) {
            EXPECT_EQ(Outcome::Accepted, *outcome);
            EXPECT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, seed), Application(seed + 500)));
        } else {
            EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, seed), Application(seed + 500)));
        }
    }
}

// And for the operator's `client add`: one client, or an error and none.
TYPED_TEST_P(StoreContract, EveryFaultLeavesAClientAddedOnceOrNotAtAll)
{
    const auto store = this->Open();
    const std::vector<std::string> faults = this->m_stores.Faults();
    for (std::size_t fault = 0; fault < faults.size(); ++fault) {
        SCOPED_TRACE(faults[fault]);
        const std::string name = "client-" + std::to_string(fault);
        ClientKey key{};
        key[0] = static_cast<uint8_t>(fault + 1);
        std::optional<int64_t> id;
        this->m_stores.Arm(fault);
        try {
            id = store->AddClient(name, key, 1000);
        } catch (const StoreError& failure) {
            EXPECT_NE(StoreError::Kind::Unresolved, failure.kind()) << "the store came back to be asked";
        }
        this->m_stores.Disarm();
        int made = 0;
        for (const ApiClient& client : store->Clients())
            made += client.name == name;
        EXPECT_EQ(id ? 1 : 0, made);
        if (id) {
            EXPECT_EQ(key, store->ClientKeyOf(*id));
        }
    }
}

// Every accepted sign-in is kept with its time, account, identity, address and path, in the
// same step as its acceptance; nothing else is.
TYPED_TEST_P(StoreContract, KeepsEveryAcceptedSignInAndListsThemNewestFirst)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    store->Enroll(kBob, "bob", 1);
    constexpr int64_t kDay = 1'800'000'000 - 1'800'000'000 % kSecondsPerDay;
    const Origin client{"client:3", "client:3", ""};
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 1), Logon(1), kDay - 5));
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 2), Logon(2), kDay + 7));
    ASSERT_EQ(Outcome::Accepted,
              Check(*store, Genuine(kBob, 1), {Logon(3).mark, false, SignInPath::Api}, kDay + 60, client));
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 3), Logon(4), kDay + 86399));
    ASSERT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, 3), Logon(5), kDay + 86399));
    store->Revoke(kBob, kDay + 100);
    ASSERT_EQ(Outcome::Revoked, Check(*store, Genuine(kBob, 2), Logon(6), kDay + 101));

    const auto all = store->SignIns(0, std::nullopt, 100);
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(kDay + 86399, all[0].at);
    EXPECT_EQ(kDay + 60, all[1].at);
    EXPECT_EQ("bob", all[1].account);
    EXPECT_EQ("2800000000000042", all[1].identity);
    EXPECT_EQ("client:3", all[1].address);
    EXPECT_EQ(SignInPath::Api, all[1].path);
    EXPECT_EQ(kDay + 7, all[2].at);
    EXPECT_EQ(kDay - 5, all[3].at);
    EXPECT_EQ("alice", all[3].account);
    EXPECT_EQ("192.0.2.7", all[3].address);
    EXPECT_EQ(SignInPath::Page, all[3].path);
    EXPECT_EQ(0, all[3].earlier);

    EXPECT_EQ(3u, store->SignIns(0, std::string("alice"), 100).size());
    EXPECT_EQ(0u, store->SignIns(0, std::string("carol"), 100).size());
    const auto since = store->SignIns(kDay + 7, std::nullopt, 100);
    ASSERT_EQ(3u, since.size());
    EXPECT_EQ(kDay + 7, since[2].at);
    const auto latest = store->SignIns(0, std::nullopt, 2);
    ASSERT_EQ(2u, latest.size());
    EXPECT_EQ(kDay + 60, latest[1].at);

    // Kept by the week, until the week's last day is 400 days old.
    const int64_t weekEnds = kDay - kDay % kSignInWeekSeconds + kSignInWeekSeconds;
    store->Tidy(weekEnds + kSignInKeepDays * kSecondsPerDay);
    EXPECT_EQ(4u, store->SignIns(0, std::nullopt, 100).size());
    store->Tidy(weekEnds + kSignInKeepDays * kSecondsPerDay + 1);
    EXPECT_TRUE(store->SignIns(0, std::nullopt, 100).empty());
}

// A token signing in over and over from one address keeps a bounded row: the times of its
// latest sign-ins of the week, and how many came before them.
TYPED_TEST_P(StoreContract, ManySignInsOfAWeekKeepTheLatestTimesAndCountTheRest)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    constexpr int64_t kDay = 1'800'000'000 - 1'800'000'000 % kSecondsPerDay;
    const int signIns = static_cast<int>(kMostSignInTimes) + 4;
    for (int i = 0; i < signIns; ++i)
        ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, i), Logon(i), kDay + 10 * i));
    const auto kept = store->SignIns(0, std::nullopt, 1000);
    ASSERT_EQ(static_cast<std::size_t>(kMostSignInTimes), kept.size());
    EXPECT_EQ(kDay + 10 * (signIns - 1), kept.front().at);
    EXPECT_EQ(kDay + 40, kept.back().at);
    EXPECT_EQ(4, kept.back().earlier);
}

// The metrics' figures count every check exactly, as the store holds them, and never fall: the
// clean-up folding attempts into daily counts and dropping old days changes none of them.
TYPED_TEST_P(StoreContract, FiguresCountEveryCheckExactlyAndNeverFall)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    store->Enroll(kBob, "bob", 1);
    store->Revoke(kBob, 2);
    constexpr int64_t kAt = 1'800'000'000;
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 1), Logon(1), kAt));
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 2), Logon(2), kAt));
    ASSERT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, 2), Logon(3), kAt));
    ASSERT_EQ(Outcome::Revoked, Check(*store, Genuine(kBob, 1), Logon(4), kAt));
    // The used and the revoked string are failures too: one junk string more spends the address's.
    const Budgets tight{60, 3, 5, 100};
    ASSERT_EQ(Outcome::NotGenuine, Check(*store, Junk(), Logon(10), kAt, kHome, tight));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Outcome::TooManyFailures, Check(*store, Junk(), Logon(20 + i), kAt, kHome, tight));
    const Origin neighbour{"192.0.2.8", "192.0.2.0/24", ""};
    for (int i = 0; i < 2; ++i)
        Check(*store, Junk(), Logon(30 + i), kAt, neighbour, tight);
    ASSERT_EQ(Outcome::TooManyFailures, Check(*store, Junk(), Logon(40), kAt, neighbour, tight));
    store->AddCounts({{{"api", "OK"}, 2}, {{"store_error", "busy"}, 1}});
    store->AddCounts({{{"api", "OK"}, 1}});

    const Counts expected{{{"checked", "accepted"}, 2},
                          {{"checked", "already-used"}, 1},
                          {{"checked", "revoked"}, 1},
                          {{"checked", "not-genuine"}, 3},
                          {{"checked", "too-many-failures"}, 5},
                          {{"refused", "address"}, 4},
                          {{"refused", "network"}, 1},
                          {{"api", "OK"}, 3},
                          {{"store_error", "busy"}, 1},
                          {{"tokens", "active"}, 1},
                          {{"tokens", "revoked"}, 1},
                          {{"sessions", ""}, 2},
                          {{"used_strings", ""}, 2}};
    const StoreFigures figures = store->Figures(kAt);
    EXPECT_EQ(expected, figures.counts);
    EXPECT_GT(figures.bytes, 0);

    store->Prune(kAt + kAttemptKeepSeconds + 1);
    Counts later = expected;
    later[{"sessions", ""}] = 0;
    EXPECT_EQ(later, store->Figures(kAt + kSessionLifetimeSeconds + 1).counts) << "attempts folded into days";
    store->Prune(kAt + kDailyKeepSeconds + kSecondsPerDay);
    EXPECT_TRUE(store->DailyCounts(0).empty());
    EXPECT_EQ(later, store->Figures(kAt + kSessionLifetimeSeconds + 1).counts) << "days dropped";
}

// What the admin page shows: attempts per hour and per day from the attempts and, once folded,
// from the counts; the addresses and networks that spent their budgets; the grants.
TYPED_TEST_P(StoreContract, OverviewShowsActivityBudgetsAndLatestSignInsToTheAccountsGrantedIt)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    store->Enroll(kBob, "bob", 1);
    constexpr int64_t kHour = 60 * 60;
    constexpr int64_t kAt = 1'800'000'000 - 1'800'000'000 % kHour;
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 1), Logon(1), kAt + 5));
    const Budgets tight{60, 2, 5, 100};
    for (int i = 0; i < 3; ++i)
        Check(*store, Junk(), Logon(10 + i), kAt + 6, kHome, tight);
    store->Tidy(kAt + 2 * kHour + 1);
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 2), Logon(2), kAt + 2 * kHour + 2));

    const OverviewRequest request{kAt - 47 * kHour, kAt - 59 * kSecondsPerDay, kAt - 7 * kSecondsPerDay, 10, 1};
    const SiteOverview overview = store->Overview(request);
    const auto sum = [](const std::vector<Activity>& slots, int64_t at) {
        Activity total{at};
        for (const Activity& slot : slots) {
            if (slot.at != at)
                continue;
            total.signIns += slot.signIns;
            total.failures += slot.failures;
            total.refusals += slot.refusals;
        }
        return std::tuple(total.signIns, total.failures, total.refusals);
    };
    EXPECT_EQ(std::tuple(1, 2, 1), sum(overview.hourly, kAt)) << "folded into the hour's counts";
    EXPECT_EQ(std::tuple(1, 0, 0), sum(overview.hourly, kAt + 2 * kHour)) << "not folded yet";
    const int64_t day = kAt - kAt % kSecondsPerDay;
    EXPECT_EQ(std::tuple(2, 2, 1), sum(overview.daily, day));

    ASSERT_EQ(2u, overview.tokens.size());
    EXPECT_EQ(kAt + 2 * kHour + 2, overview.tokens[0].lastSignIn);
    EXPECT_EQ(std::nullopt, overview.tokens[1].lastSignIn);
    ASSERT_EQ(1u, overview.budgets.size());
    EXPECT_EQ("192.0.2.7", overview.budgets[0].origin);
    EXPECT_EQ("address", overview.budgets[0].kind);
    EXPECT_EQ(1, overview.budgets[0].refusals);
    EXPECT_EQ(day, overview.budgets[0].lastDay);
    ASSERT_EQ(1u, overview.signIns.size());
    EXPECT_EQ(kAt + 2 * kHour + 2, overview.signIns[0].at);

    EXPECT_FALSE(store->IsAdmin("alice"));
    EXPECT_TRUE(store->GrantAdmin("alice", 7));
    EXPECT_FALSE(store->GrantAdmin("alice", 8));
    EXPECT_TRUE(store->IsAdmin("alice"));
    EXPECT_FALSE(store->IsAdmin("Alice"));
    ASSERT_EQ(1u, store->Admins().size());
    EXPECT_EQ(7, store->Admins()[0].grantedAt);
    EXPECT_TRUE(store->RevokeAdmin("alice"));
    EXPECT_FALSE(store->RevokeAdmin("alice"));
    EXPECT_FALSE(store->IsAdmin("alice"));
}

// A probe's throwaway token goes with every record of it, and nothing of another token goes.
TYPED_TEST_P(StoreContract, ForgettingATokenRemovesEveryRecordOfItAndNothingElse)
{
    const auto store = this->Open();
    store->Enroll(kAlice, "~probe", 1);
    store->Enroll(kBob, "bob", 1);
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 7), Logon(1)));
    ASSERT_EQ(Outcome::AlreadyUsed, Check(*store, Genuine(kAlice, 7), Logon(2), 1001));
    ASSERT_EQ(Outcome::Accepted, Check(*store, Genuine(kBob, 7), Logon(3), 1002));

    const Counts before = store->Figures(1003).counts;
    store->Forget(kAlice);
    ASSERT_EQ(1u, store->Tokens().size());
    const auto signIns = store->SignIns(0, std::nullopt, 10);
    ASSERT_EQ(1u, signIns.size());
    EXPECT_EQ("bob", signIns[0].account);
    const Counts after = store->Figures(1003).counts;
    for (const char* outcome : {"accepted", "already-used"})
        EXPECT_EQ(before.at({"checked", outcome}), after.at({"checked", outcome})) << "what it counted stays";
    EXPECT_EQ("bob", store->Tokens()[0].account);
    EXPECT_EQ(std::nullopt, store->FindSession(Logon(1).mark, 0));
    EXPECT_EQ("bob", store->FindSession(Logon(3).mark, 0)->account);
    const auto attempts = store->RecentAttempts(10);
    ASSERT_EQ(1u, attempts.size());
    EXPECT_EQ("2800000000000042", attempts[0].identity);
    // Enrolled again, its string is new to the store: nothing of it was left.
    store->Enroll(kAlice, "~probe", 2);
    EXPECT_EQ(Outcome::Accepted, Check(*store, Genuine(kAlice, 7), Logon(4), 1003));
}

REGISTER_TYPED_TEST_SUITE_P(
    StoreContract, EnrolsRevokesAndEnrolsAgain, AcceptsEachIdentityAndSeedOnceAndRecordsEveryAttempt,
    ACheckThatFailsHalfwayIsRolledBack, SessionsLastTheirLifetimeAndEndWithSignOutRevocationAndNewEnrolment,
    BudgetsOfAnAddressAndItsNetworksHoldAndRefusalsCostNoRows, ABudgetIsNeverOverspentByServersCheckingAtOnce,
    ServersCheckingAtOnceAcceptEachStringOnceAndKeepTheBudgets,
    TidyingFoldsOldAttemptsIntoDailyCountsAndForgetsExpiredSessions, ServersTidyingAtOnceCountEachOldAttemptOnce,
    CheckNamesWhatDiffersFromTheSchemaAndBrokenRows, AClientsKeyComesBackAndEachNonceServesOnceOnEveryServer,
    EveryFaultLeavesALogonsAnswerAndTheStoreAgreeing, EveryFaultLeavesAVerificationsAnswerAndTheStoreAgreeing,
    EveryFaultLeavesAClientAddedOnceOrNotAtAll, KeepsEveryAcceptedSignInAndListsThemNewestFirst,
    ManySignInsOfAWeekKeepTheLatestTimesAndCountTheRest, FiguresCountEveryCheckExactlyAndNeverFall,
    OverviewShowsActivityBudgetsAndLatestSignInsToTheAccountsGrantedIt,
    ForgettingATokenRemovesEveryRecordOfItAndNothingElse);

#pragma once
// The contract of the OpenID Connect provider's records (ProviderRecords.h), run against each
// store as StoreContract.h is: applications, keys and their rotation, a pending sign-in taken on
// once by whichever of many servers comes first, a code that works once and whose second use
// revokes what the first issued, revocation and the clean-up reaching the provider's records,
// and faults that never let a code work twice. Each store's test program instantiates it with
// the same type as StoreContract.
#include "StoreContract.h"

template <typename Stores>
class ProviderContract : public StoreContract<Stores> {
};

TYPED_TEST_SUITE_P(ProviderContract);

namespace {

constexpr int64_t kIssuedAt = 5000;

ProviderHash HashOf(uint8_t first)
{
    ProviderHash hash{};
    hash[0] = first;
    hash[31] = 0x5A;
    return hash;
}

ProviderCode CodeFor(uint8_t code, const RomBytes& identity = kAlice, std::string client = "app")
{
    return {HashOf(code), std::move(client), "https://app.example/cb", "", "n-1", "openid", identity,
            4000,         kIssuedAt + 60};
}

// Every first use is judged good: an access token whose hash follows the code's.
CodeJudgement Grant(int64_t expiresAt = kIssuedAt + 600)
{
    return [expiresAt](const ProviderCode& code) {
        return std::optional(ProviderAccessToken{HashOf(static_cast<uint8_t>(code.hash[0] + 100)), expiresAt});
    };
}

CodeUse Redeem(SiteStore& store, uint8_t code, const CodeJudgement& judge = Grant())
{
    return store.RedeemCode(HashOf(code), kIssuedAt + 1, judge).use;
}

std::optional<std::string> AccountOfToken(SiteStore& store, uint8_t code, int64_t at = kIssuedAt + 2)
{
    const auto holder = store.FindAccessToken(HashOf(static_cast<uint8_t>(code + 100)), at);
    return holder ? std::optional(holder->account) : std::nullopt;
}

} // namespace

TYPED_TEST_P(ProviderContract, ClientsAreFoundListedAndRemovedWithTheirCodesAndTokens)
{
    const auto store = this->Open();
    store->Enroll(kAlice, "alice", 1);
    store->AddProviderClient({"app", "wiki", {"https://app.example/cb", "http://127.0.0.1:8080/cb"}, HashOf(1), 10});
    store->AddProviderClient({"spa", "board", {"https://spa.example/"}, std::nullopt, 11});
    const auto app = store->FindProviderClient("app");
    ASSERT_TRUE(app);
    EXPECT_EQ("wiki", app->name);
    EXPECT_EQ((std::vector<std::string>{"https://app.example/cb", "http://127.0.0.1:8080/cb"}), app->redirectUris);
    EXPECT_EQ(HashOf(1), app->secretHash);
    EXPECT_EQ(std::nullopt, store->FindProviderClient("spa")->secretHash);
    EXPECT_EQ(std::nullopt, store->FindProviderClient("APP"));
    const auto clients = store->ProviderClients();
    ASSERT_EQ(2u, clients.size());
    EXPECT_EQ("spa", clients[1].id);

    ASSERT_TRUE(store->IssueCode(CodeFor(1), std::nullopt, kIssuedAt));
    ASSERT_TRUE(store->IssueCode(CodeFor(2), std::nullopt, kIssuedAt));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*store, 2));
    EXPECT_TRUE(store->RemoveProviderClient("app"));
    EXPECT_FALSE(store->RemoveProviderClient("app"));
    EXPECT_EQ(CodeUse::Unknown, Redeem(*store, 1));
    EXPECT_EQ(std::nullopt, AccountOfToken(*store, 2));
    EXPECT_EQ(1u, store->ProviderClients().size());
    EXPECT_TRUE(store->Check().empty());
}

TYPED_TEST_P(ProviderContract, TheFirstKeysStayAndARotatedKeyIsKeptUntilItsTokensRanOut)
{
    const auto store = this->Open();
    EXPECT_EQ(std::nullopt, store->ReadProviderKeys().subjectKey);
    store->StartProvider(HashOf(1), {"k1", "{\"one\"}", 10, std::nullopt});
    // A second process that started the provider at the same moment keeps nothing of its own.
    store->StartProvider(HashOf(2), {"k2", "{\"two\"}", 11, std::nullopt});
    ProviderKeys keys = store->ReadProviderKeys();
    EXPECT_EQ(HashOf(1), keys.subjectKey);
    ASSERT_EQ(1u, keys.keys.size());
    EXPECT_EQ("{\"one\"}", keys.keys[0].stored);

    store->RotateProviderKey({"k3", "{\"three\"}", 100, std::nullopt}, 100);
    store->RotateProviderKey({"k4", "{\"four\"}", 200, std::nullopt}, 200);
    keys = store->ReadProviderKeys();
    ASSERT_EQ(3u, keys.keys.size());
    EXPECT_EQ("k4", keys.keys[0].kid);
    EXPECT_EQ(std::nullopt, keys.keys[0].retiredAt);
    EXPECT_EQ("k3", keys.keys[1].kid);
    EXPECT_EQ(200, keys.keys[1].retiredAt);
    EXPECT_EQ("k1", keys.keys[2].kid);

    store->Tidy(200 + kProviderKeepSeconds);
    EXPECT_EQ(2u, store->ReadProviderKeys().keys.size()) << "k1, retired at 100, is forgotten";
    EXPECT_EQ(HashOf(1), store->ReadProviderKeys().subjectKey);
    EXPECT_TRUE(store->Check().empty());
}

TYPED_TEST_P(ProviderContract, APendingSignInIsTakenOnOnceByWhicheverServerComesFirst)
{
    this->Open()->Enroll(kAlice, "alice", 1);
    this->Open()->AwaitSignIn(HashOf(9), "client_id=app", 1000, 1600);
    std::atomic<int> taken{0};
    OnEveryServer(*this, StoreUse::LongLived, [&](OperatorStore& store, int server) {
        taken += store.IssueCode(CodeFor(static_cast<uint8_t>(10 + server)), HashOf(9), 1100) ? 1 : 0;
    });
    EXPECT_EQ(1, taken);
    const auto store = this->Open();
    int codes = 0;
    for (int server = 0; server < kServers; ++server)
        codes += Redeem(*store, static_cast<uint8_t>(10 + server)) == CodeUse::Redeemed;
    EXPECT_EQ(1, codes) << "the tabs that came later kept no code";

    const auto pending = store->FindPendingAuthorization(HashOf(9), 1599);
    ASSERT_TRUE(pending);
    EXPECT_EQ("client_id=app", pending->request);
    EXPECT_EQ(1000, pending->requestedAt);
    EXPECT_TRUE(pending->continued);
    EXPECT_EQ(std::nullopt, store->FindPendingAuthorization(HashOf(9), 1600)) << "run out";
    store->AwaitSignIn(HashOf(8), "client_id=app", 1000, 1600);
    EXPECT_FALSE(store->IssueCode(CodeFor(30), HashOf(8), 1600)) << "too late to take on";
    EXPECT_EQ(CodeUse::Unknown, Redeem(*store, 30));
}

TYPED_TEST_P(ProviderContract, ACodeWorksOnceAndItsSecondUseRevokesWhatTheFirstIssued)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    ASSERT_TRUE(store->IssueCode(CodeFor(1), std::nullopt, kIssuedAt));
    const CodeRedemption first = store->RedeemCode(HashOf(1), kIssuedAt + 1, Grant());
    ASSERT_EQ(CodeUse::Redeemed, first.use);
    EXPECT_EQ("alice", first.account);
    EXPECT_EQ("app", first.code.clientId);
    EXPECT_EQ("https://app.example/cb", first.code.redirectUri);
    EXPECT_EQ("n-1", first.code.nonce);
    EXPECT_EQ(kAlice, first.code.identity);
    EXPECT_EQ(4000, first.code.authTime);
    EXPECT_EQ(kIssuedAt + 60, first.code.expiresAt);
    EXPECT_EQ("alice", AccountOfToken(*store, 1));
    EXPECT_EQ(std::nullopt, AccountOfToken(*store, 1, kIssuedAt + 600)) << "run out";

    EXPECT_EQ(CodeUse::Reused, Redeem(*store, 1));
    EXPECT_EQ(std::nullopt, AccountOfToken(*store, 1)) << "revoked by the second use";
    EXPECT_EQ(CodeUse::Unknown, Redeem(*store, 2));

    // A code the caller refuses is used up all the same.
    ASSERT_TRUE(store->IssueCode(CodeFor(3), std::nullopt, kIssuedAt));
    EXPECT_EQ(CodeUse::Refused, Redeem(*store, 3, [](const ProviderCode&) { return std::nullopt; }));
    EXPECT_EQ(CodeUse::Reused, Redeem(*store, 3));

    // Only the redemption that issued a token signed anyone in.
    const auto signIns = store->SignIns(0, std::nullopt, 10);
    ASSERT_EQ(1u, signIns.size());
    EXPECT_EQ(kIssuedAt + 1, signIns[0].at);
    EXPECT_EQ("alice", signIns[0].account);
    EXPECT_EQ("oidc:app", signIns[0].address);
    EXPECT_EQ(SignInPath::Oidc, signIns[0].path);
}

TYPED_TEST_P(ProviderContract, RevocationAndANewEnrolmentEndTheTokensCodesAndAccessTokens)
{
    const auto server = this->Open(StoreUse::LongLived);
    const auto operatorStore = this->Open();
    operatorStore->Enroll(kAlice, "alice", 1);
    operatorStore->Enroll(kBob, "bob", 1);
    for (uint8_t code : {1, 2, 3})
        ASSERT_TRUE(server->IssueCode(CodeFor(code), std::nullopt, kIssuedAt));
    ASSERT_TRUE(server->IssueCode(CodeFor(4, kBob), std::nullopt, kIssuedAt));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*server, 1));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*server, 4));

    operatorStore->Revoke(kAlice, kIssuedAt + 1);
    EXPECT_EQ(std::nullopt, AccountOfToken(*server, 1));
    EXPECT_EQ(CodeUse::Unknown, Redeem(*server, 2));
    EXPECT_EQ("bob", AccountOfToken(*server, 4)) << "another token's stay";

    operatorStore->Enroll(kAlice, "mallory", kIssuedAt + 2);
    EXPECT_EQ(CodeUse::Unknown, Redeem(*server, 3));
    ASSERT_TRUE(server->IssueCode(CodeFor(5), std::nullopt, kIssuedAt));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*server, 5));
    EXPECT_EQ("mallory", AccountOfToken(*server, 5));
    operatorStore->Forget(kAlice);
    EXPECT_EQ(std::nullopt, AccountOfToken(*server, 5));
    EXPECT_EQ("bob", AccountOfToken(*server, 4));
}

TYPED_TEST_P(ProviderContract, TheCleanUpForgetsWhatRanOutLongEnoughAgo)
{
    const auto store = this->Open();
    store->Enroll(kAlice, "alice", 1);
    store->AwaitSignIn(HashOf(9), "client_id=app", 1000, kIssuedAt + 60);
    ASSERT_TRUE(store->IssueCode(CodeFor(1), std::nullopt, kIssuedAt));
    ASSERT_TRUE(store->IssueCode(CodeFor(2), std::nullopt, kIssuedAt));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*store, 2));
    // Long enough for the access token of its first use to run out, a code's second use is told.
    store->Tidy(kIssuedAt + 60 + kProviderKeepSeconds);
    EXPECT_EQ(CodeUse::Reused, Redeem(*store, 2));
    ASSERT_TRUE(store->IssueCode(CodeFor(3), std::nullopt, kIssuedAt));
    ASSERT_EQ(CodeUse::Redeemed, Redeem(*store, 3));
    store->Tidy(kIssuedAt + 61 + kProviderKeepSeconds);
    EXPECT_EQ(CodeUse::Unknown, Redeem(*store, 1));
    EXPECT_EQ(CodeUse::Unknown, Redeem(*store, 2));
    EXPECT_EQ(std::nullopt, store->FindPendingAuthorization(HashOf(9), 0));
}

TYPED_TEST_P(ProviderContract, CheckNamesDamagedHashes)
{
    const auto store = this->Open();
    store->Enroll(kAlice, "alice", 1);
    store->AddProviderClient({"app", "wiki", {"https://app.example/cb"}, HashOf(1), 10});
    ASSERT_TRUE(store->IssueCode(CodeFor(1), std::nullopt, kIssuedAt));
    EXPECT_TRUE(store->Check().empty());
    this->m_stores.Sql("UPDATE oidc_clients SET secret_hash = substr(secret_hash, 2);"
                       " UPDATE oidc_codes SET code_hash = substr(code_hash, 1, 31)");
    const std::string faults = ::testing::PrintToString(store->Check());
    for (const char* part :
         {"OpenID Connect client app has a damaged secret hash", "a code of 0123456789ABCDEF has a damaged hash"})
        EXPECT_NE(std::string::npos, faults.find(part)) << part << " in " << faults;
}

// A fault at any step of a redemption may lose its answer, or the redemption itself, but never
// lets the code work twice.
TYPED_TEST_P(ProviderContract, EveryFaultLeavesACodeWorkingOnceAtMost)
{
    const auto store = this->Open(StoreUse::LongLived);
    store->Enroll(kAlice, "alice", 1);
    const std::vector<std::string> faults = this->m_stores.Faults();
    for (std::size_t fault = 0; fault < faults.size(); ++fault) {
        SCOPED_TRACE(faults[fault]);
        const auto code = static_cast<uint8_t>(fault + 1);
        ASSERT_TRUE(store->IssueCode(CodeFor(code), std::nullopt, kIssuedAt));
        this->m_stores.Arm(fault);
        std::optional<CodeUse> use;
        try {
            use = Redeem(*store, code);
        } catch (const StoreError&) {
        }
        this->m_stores.Disarm();
        const CodeUse again = Redeem(*store, code);
        if (use) {
            EXPECT_EQ(CodeUse::Redeemed, *use);
            EXPECT_EQ(CodeUse::Reused, again);
        } else {
            // Lost with its answer, or never made: then it works now.
            EXPECT_TRUE(again == CodeUse::Reused || again == CodeUse::Redeemed);
            EXPECT_NE(CodeUse::Redeemed, Redeem(*store, code));
        }
    }
}

REGISTER_TYPED_TEST_SUITE_P(ProviderContract, ClientsAreFoundListedAndRemovedWithTheirCodesAndTokens,
                            TheFirstKeysStayAndARotatedKeyIsKeptUntilItsTokensRanOut,
                            APendingSignInIsTakenOnOnceByWhicheverServerComesFirst,
                            ACodeWorksOnceAndItsSecondUseRevokesWhatTheFirstIssued,
                            RevocationAndANewEnrolmentEndTheTokensCodesAndAccessTokens,
                            TheCleanUpForgetsWhatRanOutLongEnoughAgo, CheckNamesDamagedHashes,
                            EveryFaultLeavesACodeWorkingOnceAtMost);

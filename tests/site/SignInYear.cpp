// site_sign_in_year DB DAYS PER-DAY [usual|each]: what the sign-in record costs the SQLite store.
// Makes DB a new store and signs in PER-DAY times a day for DAYS days through the store's own
// check, as the login page would (the clean-up's share every 64 checks, all of it at the end):
// 200 tokens, each signing in from its own address at home or from its office's (one of five)
// ("usual"), or from an address of its own each time ("each", the worst case); one
// in ten through the API. Prints the file's size, the sign-in record's pages and the bytes per
// sign-in. For scripts/measure-sign-ins.sh; never part of the test run.
#include "site/store/SqliteSiteStore.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

constexpr int kTokens = 200;
constexpr int kOffices = 5;
constexpr int64_t kStart = 1'800'000'000 - 1'800'000'000 % kSecondsPerDay;

RomBytes TokenOf(int token)
{
    return {0x28, 0, 0, 0, 0, static_cast<uint8_t>(token >> 8), static_cast<uint8_t>(token), 0x42};
}

Origin OriginOf(int token, int64_t signIn, bool each)
{
    std::string address;
    if (each)
        address = "10." + std::to_string(signIn >> 16 & 0xFF) + "." + std::to_string(signIn >> 8 & 0xFF) + "." +
                  std::to_string(signIn & 0xFF);
    else if (signIn % 2 == 0)
        address = "198.51." + std::to_string(token % 250) + ".7";
    else
        address = "192.0.2." + std::to_string(1 + token % kOffices);
    const std::string network = address.substr(0, address.rfind('.')) + ".0/24";
    return {address, network, ""};
}

// The pages of the sign-in record, as SQLite's own page count says.
int64_t RecordBytes(const std::string& path)
{
    sqlite3* database = nullptr;
    sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(database, "SELECT sum(pgsize) FROM dbstat WHERE name = 'sign_ins'", -1, &query, nullptr);
    const int64_t bytes = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int64(query, 0) : -1;
    sqlite3_finalize(query);
    sqlite3_close(database);
    return bytes;
}

bool Number(std::string_view text, int64_t& number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && number > 0;
}

} // namespace

int main(int argc, char** argv)
{
    int64_t days = 0;
    int64_t perDay = 0;
    const std::string_view addresses = argc == 5 ? argv[4] : "usual";
    if ((argc != 4 && argc != 5) || !Number(argv[2], days) || !Number(argv[3], perDay) ||
        (addresses != "usual" && addresses != "each")) {
        std::fprintf(stderr, "usage: site_sign_in_year DB DAYS PER-DAY [usual|each]\n");
        return 2;
    }
    const std::string path = argv[1];
    SqliteSiteStore::Initialise(path);
    SqliteSiteStore store = SqliteSiteStore::Open(path, StoreUse::LongLived);
    for (int token = 0; token < kTokens; ++token)
        store.Enroll(TokenOf(token), "user" + std::to_string(token), 1);
    int64_t signIns = 0;
    for (int64_t day = 0; day < days; ++day) {
        for (int64_t i = 0; i < perDay; ++i, ++signIns) {
            const int token = static_cast<int>(signIns % kTokens);
            const int64_t at = kStart + day * kSecondsPerDay + i * kSecondsPerDay / perDay;
            const auto seed = static_cast<uint32_t>(signIns);
            SessionHash mark{};
            for (std::size_t byte = 0; byte < 8; ++byte)
                mark[byte] = static_cast<uint8_t>(signIns >> (8 * byte));
            const bool api = signIns % 10 == 9;
            const Offer offer{mark, !api, api ? SignInPath::Api : SignInPath::Page};
            const Origin origin =
                api ? Origin{"client:1", "client:1", ""} : OriginOf(token, signIns, addresses == "each");
            const Verification genuine{Verdict::Genuine, TokenOf(token), seed};
            store.CheckString(
                origin, at, {}, [&] { return genuine; }, offer);
            if (signIns % 64 == 0)
                store.Tidy(at);
        }
    }
    store.Prune(kStart + days * kSecondsPerDay);
    const int64_t record = RecordBytes(path);
    const auto file = static_cast<int64_t>(std::filesystem::file_size(path));
    std::printf("%lld sign-ins over %lld days (%s): file %.1f MB, sign-in record %.2f MB,"
                " %.1f bytes per sign-in\n",
                static_cast<long long>(signIns), static_cast<long long>(days),
                addresses == "each" ? "a new address each time" : "home and office addresses",
                static_cast<double>(file) / 1e6, static_cast<double>(record) / 1e6,
                static_cast<double>(record) / static_cast<double>(signIns));
    return 0;
}

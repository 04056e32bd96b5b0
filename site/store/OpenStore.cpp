#include "site/store/OpenStore.h"

#include "site/store/SqlSiteStore.h"
#include "site/store/SqliteSiteStore.h"

// The statically linked login.cgi of optimised builds has no PostgreSQL client: libpq cannot
// be linked statically. Every other program is built with it.
#ifdef ENTRAVO_SITE_POSTGRES
#include "site/store/PgSiteStore.h"
#endif

namespace {

bool IsServerAddress(std::string_view address)
{
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

[[maybe_unused]] StoreError NoServerClient()
{
    return StoreError("this program was built without PostgreSQL (statically linked); use login.fcgi");
}

// The store as its kind's shared calls: what a copy works through.
std::unique_ptr<SqlSiteStore> OpenSqlStore(const std::string& address, StoreUse use)
{
    if (IsServerAddress(address)) {
#ifdef ENTRAVO_SITE_POSTGRES
        return std::make_unique<PgSiteStore>(PgSiteStore::Open(address, use));
#else
        throw NoServerClient();
#endif
    }
    return std::make_unique<SqliteSiteStore>(SqliteSiteStore::Open(address, use));
}

} // namespace

std::unique_ptr<OperatorStore> OpenStore(const std::string& address, StoreUse use)
{
    return OpenSqlStore(address, use);
}

InitResult InitialiseStore(const std::string& address)
{
    if (IsServerAddress(address)) {
#ifdef ENTRAVO_SITE_POSTGRES
        return PgSiteStore::Initialise(address);
#else
        throw NoServerClient();
#endif
    }
    return SqliteSiteStore::Initialise(address);
}

int64_t CopyStore(const std::string& source, const std::string& destination)
{
    if (source == destination)
        throw StoreError("the destination is the site's own store: copy into another");
    // The source opened first: a source that cannot be read leaves the destination as it was.
    const auto from = OpenSqlStore(source, StoreUse::OneRequest);
    InitialiseStore(destination);
    return from->CopyInto(*OpenSqlStore(destination, StoreUse::OneRequest));
}

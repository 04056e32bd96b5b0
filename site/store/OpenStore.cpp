#include "site/store/OpenStore.h"

#include "site/store/SiteDatabase.h"

bool IsServerAddress(std::string_view address)
{
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

std::unique_ptr<SiteStore> OpenSiteStore(const std::string& address)
{
    if (IsServerAddress(address))
        throw StoreError("this program was built without PostgreSQL");
    return std::make_unique<SiteDatabase>(SiteDatabase::Open(address));
}

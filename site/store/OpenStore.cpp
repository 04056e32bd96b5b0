#include "site/store/OpenStore.h"

#include "site/store/SiteDatabase.h"

std::unique_ptr<OperatorStore> OpenStore(const std::string& address)
{
    return std::make_unique<SiteDatabase>(SiteDatabase::Open(address));
}

InitResult InitialiseStore(const std::string& address)
{
    return SiteDatabase::Initialise(address);
}

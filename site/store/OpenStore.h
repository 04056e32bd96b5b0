#pragma once
// The one place that turns the store's address (ENTRAVO_SITE_DB, entravo-site --db) into a
// store, for the login page's front ends and the operator's command alike: a libpq connection
// URI (postgresql://..., also postgresql:///entravo?host=/run/postgresql) names a PostgreSQL
// database shared by several web servers; anything else is the path of a SQLite file.
#include "site/store/SiteStore.h"

#include <memory>
#include <string>

// An existing store of this version; StoreError when it cannot be opened or is not ours.
std::unique_ptr<OperatorStore> OpenStore(const std::string& address, StoreUse use = StoreUse::OneRequest);

// Makes the store, brings an older one up to date, or checks that it is one.
InitResult InitialiseStore(const std::string& address);

// The site at source copied into the store at destination, of either kind: made (or brought up
// to date) first, it must hold no records yet. The rows copied; StoreError, and destination
// without a row of source, when it fails.
int64_t CopyStore(const std::string& source, const std::string& destination);

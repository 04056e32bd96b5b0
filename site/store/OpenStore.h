#pragma once
// The one place that turns the store's address into a store, for both login pages and the
// operator's command: a libpq connection URI (postgresql://..., also
// postgresql:///entravo?host=/run/postgresql) names a PostgreSQL database shared by several
// web servers; anything else is the path of a SQLite file.
#include "site/store/SiteStore.h"

#include <memory>
#include <string>
#include <string_view>

// True for a libpq connection URI (postgresql:// or postgres://).
bool IsServerAddress(std::string_view address);

std::unique_ptr<SiteStore> OpenSiteStore(const std::string& address);

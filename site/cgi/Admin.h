#pragma once
// /admin: the admin page (site/report/AdminPage.h) for the accounts granted it (entravo-site
// admin grant), signed in with their own token; the page that says how to sign in without a
// session, and 403 to any other. Its Revoke buttons post the form AdminForm.h reads back: a
// revocation only with the value the page gave this session, every other post refused with
// 403, changing nothing.
#include "site/cgi/Exchange.h"

Response ShowAdminPage(Exchange& exchange, SiteStore& store);
Response PostAdminForm(Exchange& exchange, SiteStore& store);

// login.cgi: the web server runs it once per request. It reads the request from the
// environment, answers through Respond and prints the answer; the site database is named by
// ENTRAVO_SITE_DB.
#include "site/cgi/Gateway.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

int main()
{
    FreshStoreSource stores;
    const Response response =
        Serve([](const char* name) { return std::getenv(name); }, stores, static_cast<int64_t>(std::time(nullptr)));
    if (!response.log.empty())
        std::fprintf(stderr, "login.cgi: %s\n", response.log.c_str());
    // Plain stdio: the stream library's start-up would be a large part of this short process.
    const std::string text = CgiText(response);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

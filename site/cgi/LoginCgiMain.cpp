// login.cgi: the web server runs it once per request. It reads the request and the settings
// from the environment (the settings file below it), answers through Serve and prints the
// answer; a bad setting is a 500 with that setting named in the web server's error log. What
// the request counted that leaves no record goes to the store before the process ends: the
// web server passes the answer on once the process has ended, so the next request's metrics
// hold it.
#include "site/cgi/Gateway.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// The body comes on standard input, CONTENT_LENGTH bytes of it.
std::string ReadBody(std::size_t length)
{
    std::string body(length, '\0');
    body.resize(std::fread(body.data(), 1, length, stdin));
    return body;
}

void Print(const Response& response)
{
    if (!response.log.empty())
        std::fprintf(stderr, "login.cgi: %s\n", response.log.c_str());
    // Plain stdio: the stream library's start-up would be a large part of this short process.
    const std::string text = CgiText(response);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

} // namespace

int main()
{
    const auto now = static_cast<int64_t>(std::time(nullptr));
    try {
        const Settings settings = Settings::Read(environ);
        FreshStoreSource stores;
        Print(Serve([](const char* name) { return std::getenv(name); }, ReadBody, settings, stores, now));
        WriteCountsWhenDue(settings, stores, now, 0);
    } catch (const SettingsError& error) {
        Print(Unavailable(error.what()));
    }
    return 0;
}

// login.cgi: the web server runs it once per request. It reads the request and the settings
// from the environment (the settings file below it), answers through Serve and prints the
// answer; a bad setting is a 500 with that setting named in the web server's error log.
#include "site/cgi/Gateway.h"

#include <unistd.h>

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

Response Answer()
{
    try {
        const Settings settings = Settings::Read(environ);
        FreshStoreSource stores;
        return Serve([](const char* name) { return std::getenv(name); }, ReadBody, settings, stores,
                     static_cast<int64_t>(std::time(nullptr)));
    } catch (const SettingsError& error) {
        return Unavailable(error.what());
    }
}

} // namespace

int main()
{
    const Response response = Answer();
    if (!response.log.empty())
        std::fprintf(stderr, "login.cgi: %s\n", response.log.c_str());
    // Plain stdio: the stream library's start-up would be a large part of this short process.
    const std::string text = CgiText(response);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

// login.cgi: the web server runs it once per request. It reads the request from the
// environment, answers through Respond and prints the answer; the site database is named by
// ENTRAVO_SITE_DB.
#include "site/cgi/Respond.h"
#include "site/store/SiteDatabase.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

Request RequestFromEnvironment()
{
    Request request;
    request.method = Environment("REQUEST_METHOD");
    request.query = Environment("QUERY_STRING");
    request.remoteAddress = Environment("REMOTE_ADDR");
    request.cookies = Environment("HTTP_COOKIE");
    request.secure = Environment("HTTPS") == "on";
    request.scriptPath = Environment("SCRIPT_NAME");
    request.now = static_cast<int64_t>(std::time(nullptr));
    return request;
}

Response Answer(Request request)
{
    const std::string path = Environment("ENTRAVO_SITE_DB");
    if (path.empty())
        return Unavailable("ENTRAVO_SITE_DB does not name the site database");
    const auto token = DrawSessionToken();
    if (!token)
        return Unavailable("the operating system gave no random bits");
    request.newSession = *token;
    try {
        SiteDatabase database = SiteDatabase::Open(path);
        return Respond(request, database);
    } catch (const StoreError& error) {
        return Unavailable(error.what());
    }
}

} // namespace

int main()
{
    const Response response = Answer(RequestFromEnvironment());
    if (!response.log.empty())
        std::fprintf(stderr, "login.cgi: %s\n", response.log.c_str());
    // Plain stdio: the stream library's start-up would be a large part of this short process.
    const std::string text = CgiText(response);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

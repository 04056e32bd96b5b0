// libFuzzer target (scripts/fuzz-site.sh): the login page's handling of a query string and a
// Cookie header, against the in-memory store. The first line of the input is the query, the
// rest the cookies. Besides the sanitizers it checks that the response is one of the page's
// statuses and that no header can be split.
#include "site/cgi/Respond.h"

#include "../InMemorySiteStore.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = std::min(input.find('\n'), input.size());

    InMemorySiteStore store;
    store.Enroll({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, "<alice & co>");
    Request request;
    request.method = "GET";
    request.query = input.substr(0, newline);
    request.cookies = input.substr(std::min(newline + 1, input.size()));
    request.clientAddress = "192.0.2.7";
    request.scriptPath = "/cgi-bin/login.cgi";
    request.now = 1'800'000'000;

    const Response response = Respond(request, store);
    Require(response.status == 200 || response.status == 303 || response.status == 400 || response.status == 401 ||
            response.status == 403 || response.status == 409);
    for (const auto& [name, value] : response.headers)
        Require(name.find_first_of("\r\n") == std::string::npos && value.find_first_of("\r\n") == std::string::npos);
    Require(response.body.find("<alice") == std::string::npos);
    return 0;
}

// site_make_logons IDENTITY FIRST-TICK COUNT: prints COUNT logon strings for one token, one
// per line, as the agent makes them at ticks FIRST-TICK, FIRST-TICK + 1, ... For the site's
// end-to-end tests and load runs; never shipped.
#include "logon/Authenticator.h"
#include "site/verifier/Identity.h"

#include <charconv>
#include <iostream>
#include <string_view>

namespace {

bool ParseNumber(std::string_view text, uint32_t& number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t firstTick = 0;
    uint32_t count = 0;
    const auto identity = argc == 4 ? ParseIdentity(argv[1]) : std::nullopt;
    if (!identity || !ParseNumber(argv[2], firstTick) || !ParseNumber(argv[3], count)) {
        std::cerr << "usage: site_make_logons IDENTITY FIRST-TICK COUNT\n";
        return 2;
    }
    RomRecord rom{};
    for (std::size_t i = 0; i < identity->size(); ++i)
        rom.cells[i] = (*identity)[i];
    for (uint32_t i = 0; i < count; ++i)
        std::cout << EncodeAuthenticator(rom, firstTick + i) << '\n';
    return 0;
}

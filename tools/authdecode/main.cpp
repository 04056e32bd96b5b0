// authdecode: for web-site operators, turns an authenticator (or a logon URL ending in one)
// back into the token's ROM identity.
#include "tools/authdecode/AuthDecode.h"

#include <iostream>
#include <string>
#include <string_view>

namespace {

constexpr int kExitDecoded = 0;
constexpr int kExitBadInput = 2;

constexpr std::string_view kUsage = "usage: authdecode [AUTHENTICATOR | LOGON-URL]\n"
                                    "Prints the token's 8 ROM bytes as 16 hexadecimal digits, family code first.\n"
                                    "Without an argument, reads one line from standard input.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::cerr << "authdecode: expected one argument, an authenticator or a logon URL (see --help)\n";
        return kExitBadInput;
    }
    std::string input;
    if (argc == 2) {
        input = argv[1];
        if (input == "-h" || input == "--help") {
            std::cout << kUsage;
            return kExitDecoded;
        }
    } else {
        std::getline(std::cin, input);
    }

    const AuthDecodeOutcome outcome = DecodeAuthenticatorInput(input);
    if (!outcome.decoded) {
        std::cerr << "authdecode: " << outcome.text << '\n';
        return kExitBadInput;
    }
    std::cout << outcome.text << '\n';
    return kExitDecoded;
}

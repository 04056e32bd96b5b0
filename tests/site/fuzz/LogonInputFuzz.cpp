// libFuzzer target (scripts/fuzz-site.sh): whatever an operator pastes or a query carries goes
// through the parser and, when it yields a string, the verifier. Besides the sanitizers it
// checks that the parser keeps its bounds and that "genuine" is always re-encodable.
#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/LogonInput.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void CheckVerdict(std::string_view text)
{
    const Verification verification = VerifyAuthenticator(text);
    if (verification.verdict != Verdict::Genuine)
        return;
    RomRecord rom{};
    for (std::size_t i = 0; i < verification.identity->size(); ++i)
        rom.cells[i] = (*verification.identity)[i];
    Require(EncodeAuthenticator(rom, verification.seed) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    if (const auto parameters = ParseQuery(input)) {
        Require(input.size() <= kQueryBounds.length && parameters->size() <= kQueryBounds.parameters);
        for (const QueryParameter& parameter : *parameters)
            Require(!parameter.name.empty() && parameter.name.size() <= kQueryBounds.nameLength &&
                    parameter.value.size() <= kQueryBounds.valueLength);
    }

    const AuthenticatorInput found = AuthenticatorFromInput(input);
    Require(found.authenticator.has_value() == found.problem.empty());
    if (found.authenticator) {
        Require(found.authenticator->size() == kAuthenticatorLength);
        CheckVerdict(*found.authenticator);
    }
    CheckVerdict(input);
    return 0;
}

#pragma once
// Proof Key for Code Exchange with S256, the only method the provider takes: the client sends
// BASE64URL(SHA-256(verifier)) with the authorization request and the verifier with the code.
#include <string>
#include <string_view>

// 43 to 128 characters of A-Z a-z 0-9 - . _ ~
bool IsCodeVerifier(std::string_view verifier);

// What an S256 challenge can be: the 43 characters of a SHA-256 digest in base64url.
bool IsS256Challenge(std::string_view challenge);

std::string S256Challenge(std::string_view verifier);

// A well-formed verifier whose challenge is this one, compared in time that does not depend on
// where the two differ.
bool VerifierMatches(std::string_view verifier, std::string_view challenge);

#pragma once
// What a link tells the user when the page could not be opened.
#include <string>

// The whole message for a failed open: a fixed heading, then the explanation of the shell's
// launch code (or "Unknown Error (<code>) occurred." for a code without one).
std::string OpenErrorMessage(int code);

#pragma once
// Trimming of user-typed text in the ANSI code page, where a lead byte and the byte after it
// form one character that is never white space (its second byte may well be 0x20).
#include "platform/AnsiText.h"

#include <string>
#include <string_view>

// Space, horizontal tab, line feed, vertical tab, form feed and carriage return.
bool IsTrimmedWhiteSpace(unsigned char byte);

// The text without white space at either end; white space inside stays. A lead byte at the
// very end, with no byte after it, counts as a character of its own.
std::string TrimWhiteSpace(std::string_view text, ansi::LeadBytePredicate isLeadByte);

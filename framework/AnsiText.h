#pragma once
// The program's ANSI code page, for text handled byte by byte.

// True when `byte` opens a two-byte character in the ANSI code page.
bool IsAnsiLeadByte(unsigned char byte);

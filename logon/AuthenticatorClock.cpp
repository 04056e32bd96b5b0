#include "logon/AuthenticatorClock.h"

#include <windows.h>

std::string EncodeAuthenticator(const RomRecord& rom)
{
    return EncodeAuthenticator(rom, GetTickCount());
}

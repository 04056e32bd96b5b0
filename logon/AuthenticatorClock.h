#pragma once
// The authenticator seeded from the system tick count, as the logon uses it. Windows only.
#include "logon/Authenticator.h"

std::string EncodeAuthenticator(const RomRecord& rom);

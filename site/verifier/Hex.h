#pragma once
// The site's identities and session tokens are written with the authenticator's digits.
#include "logon/AuthenticatorText.h"

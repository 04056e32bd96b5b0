#pragma once
// The linked token libraries and the system pause behind lampup's seam.
#include "lampup/TokenLibraries.h"

namespace lampup {

TokenLibraries LinkedTokenLibraries();

class Win32SystemPause final : public SystemPause {
public:
    void Sleep(uint32_t milliseconds) override;
};

} // namespace lampup

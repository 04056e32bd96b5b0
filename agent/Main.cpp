// logonagent.exe: the tray agent. No options, no console; everything happens in the
// application object's start-up, message loop and exit step.
#include "agent/AgentApp.h"
#include "agent/ExecutablePath.h"
#include "agent/RegistryProfileBackend.h"

#include <windows.h>

namespace {

// Constructed before WinMain runs, in this order; nothing here reads the registry yet.
RegistryProfileBackend g_profile(ExecutableProfileName());
AgentApp theAgent(g_profile);

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return theAgent.Run();
}

// logonagent.exe: the tray agent. No options, no console; everything happens in the
// application object's start-up, message loop and exit step.
#include "agent/AgentApp.h"
#include "platform/Program.h"
#include "profile/RegistryProfileBackend.h"

#include <windows.h>

namespace {

// Constructed before WinMain runs, in this order; nothing here reads the registry yet.
RegistryProfileBackend g_profile(program::Name());
AgentApp g_agent(g_profile);

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return g_agent.Run();
}

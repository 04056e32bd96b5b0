/* A library that loads nowhere but in a process of the other architecture: its only purpose
   is to be found beside the agent and refused by the loader. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

// lampup.exe: lights the reader's indicator after a good token read. Windowless, takes no
// arguments, reports nothing; the exit status is 0 on every path.
#include <windows.h>

#include "lampup/IndicatorProgram.h"
#include "lampup/Win32TokenLibraries.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    lampup::Win32SystemPause pause;
    lampup::IndicatorProgram program(lampup::LinkedTokenLibraries(), pause);
    return program.Run();
}

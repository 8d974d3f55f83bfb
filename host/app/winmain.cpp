#include <windows.h>
#include "pages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return HostMain(instance);
}

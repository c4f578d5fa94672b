// Local forward proxy of the tunnel service package (image name python27.exe).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }

// A program with a static import of urlmon.dll: the image check must refuse
// it, and the planting test uses it to show that a planted DLL does load into
// a program that imports it statically. It calls urlmon only when asked to.
#include <windows.h>
#include <urlmon.h>

int main(int argc, char**) {
  if (argc < 2) return 0;
  char agent[256];
  DWORD size = sizeof(agent);
  return ObtainUserAgentString(0, agent, &size) == S_OK ? 0 : 1;
}

// A stranger's DLL: tests lay it beside a program under the name of a system DLL (dwmapi.dll),
// and a program that loads that name and finds this export has taken it from its own folder.
extern "C" __declspec(dllexport) int PlantedBesideTheProgram() { return 1; }

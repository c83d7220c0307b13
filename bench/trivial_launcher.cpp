// The least a launcher can do: on Windows, make a window, show it and start
// the application; on Linux, start the application. The fair anchor for the
// time from a launcher's start to the application's start.
//
//   trivial_launcher PROGRAM [ARGS...]     (Windows: one command line)

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "TrivialLauncher";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "TrivialLauncher", "Launcher", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  320, 120, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DestroyWindow(window);
    return 0;
}
#else
#include <spawn.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: trivial_launcher PROGRAM [ARGS...]\n");
        return 2;
    }
    pid_t child = 0;
    return posix_spawn(&child, argv[1], nullptr, nullptr, argv + 1, environ) == 0 ? 0 : 1;
}
#endif

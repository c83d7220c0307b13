// Program entry: the platform starts up (COM, GUI, sandbox root), then the
// main window is created and the message loop runs until the run pass ends it.

#include "app/main.h"
#include "update/ReleaseKeys.h"
#include "update/Signature.h"

namespace {
int RunTovanel(qlr::Platform& platform) {
    qlr::TForm1 form(platform);
    form.ReleaseKeys = qlr::ParsePublicKeys(qlr::CompiledReleaseKeys());
    form.FormCreate();
    platform.RunMessageLoop();
    return 0;
}
}  // namespace

#ifdef _WIN32
#include <cstdlib>

#include "platform/win32/Win32Platform.h"
// A GUI program has no console to name an uncaught exception on; without the
// default verbose handler the demangler and printf stay out of Tovanel.exe.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return qlr::win32::Win32Main(RunTovanel); }
#else
#include "platform/sandbox/SandboxPlatform.h"
int main(int argc, char** argv) { return qlr::sandbox::SandboxMain(argc, argv, RunTovanel); }
#endif

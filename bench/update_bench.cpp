// The program's own download and unpack steps as a whole process, for
// timing from outside against curl and plain zlib.
//
//   update_bench download ROOT URL   DownloadFile URL -> C:\Temp\QLR\bench.pak
//   update_bench unpack ROOT         UnpackPackage C:\Temp\QLR\bench.pak
//
// ROOT is a sandbox root; the Windows build ignores it (give "-") and works
// in its own machine, the Wine prefix.

#include <cstdio>
#include <string>

#include "app/main.h"
#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#else
#include "platform/sandbox/SandboxPlatform.h"
#endif

int main(int argc, char** argv) {
    if (argc < 3 || (std::string(argv[1]) == "download" && argc < 4)) {
        std::fprintf(stderr, "usage: update_bench download ROOT URL | update_bench unpack ROOT\n");
        return 2;
    }
    const std::string mode = argv[1];
#ifdef _WIN32
    auto platform = qlr::win32::CreateWin32Platform();
#else
    auto platform = qlr::sandbox::CreateSandboxPlatform({argv[2], false});
#endif
    qlr::TForm1 form(*platform);
    form.ProgramStarted = false;  // the gauge is driven too, as in a run without an early launch
    form.f_progress = std::make_unique<qlr::Tf_progress>();
    form.ExpectedBytes = 10000000;
    form.ExpectedFiles = 20;
    const std::string package = "C:\\Temp\\QLR\\bench.pak";
    try {
        if (mode == "download")
            form.DownloadFile(argv[3], package);
        else if (!form.UnpackPackage(package))
            throw qlr::RunError("not unpacked: " + form.Memo4.Text());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "update_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}

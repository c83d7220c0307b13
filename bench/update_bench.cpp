// Times the program's own download and unpack steps on a sandbox machine.
//
//   update_bench download ROOT URL   DownloadFile URL -> C:\Temp\QLR\bench.pak
//   update_bench unpack ROOT         UnpackPackage C:\Temp\QLR\bench.pak
//
// Prints the seconds the step took. ROOT is a sandbox root.

#include <chrono>
#include <cstdio>
#include <string>

#include "app/main.h"
#include "platform/sandbox/SandboxPlatform.h"

int main(int argc, char** argv) {
    if (argc < 3 || (std::string(argv[1]) == "download" && argc < 4)) {
        std::fprintf(stderr, "usage: update_bench download ROOT URL | update_bench unpack ROOT\n");
        return 2;
    }
    const std::string mode = argv[1];
    auto platform = qlr::sandbox::CreateSandboxPlatform({argv[2], false});
    qlr::TForm1 form(*platform);
    form.ProgramStarted = false;  // the gauge is driven too, as in a run without an early launch
    form.f_progress = std::make_unique<qlr::Tf_progress>();
    form.ExpectedBytes = 10000000;
    form.ExpectedFiles = 20;
    const std::string package = "C:\\Temp\\QLR\\bench.pak";
    const auto start = std::chrono::steady_clock::now();
    try {
        if (mode == "download")
            form.DownloadFile(argv[3], package);
        else if (!form.UnpackPackage(package))
            throw qlr::RunError("not unpacked: " + form.Memo4.Text());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "update_bench: %s\n", error.what());
        return 1;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", took.count());
    return 0;
}

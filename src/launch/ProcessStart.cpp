#include "app/main.h"

namespace qlr {

namespace {
constexpr std::uint32_t kStillActive = 259;
constexpr unsigned kPollInterval = 500;
}  // namespace

bool TForm1::StartProcess(const std::string& commandLine) { return platform_.SpawnProcess(commandLine) != nullptr; }

bool TForm1::StartProcessAndWait(const std::string& commandLine) {
    auto process = platform_.SpawnProcess(commandLine);
    if (!process) return false;
    for (;;) {
        platform_.Sleep(kPollInterval);
        platform_.ProcessMessages();
        // The handle, not only the code: a program may exit with 259 itself.
        if (process->ExitCode() != kStillActive || process->HasEnded()) break;
        if (platform_.Terminated()) break;
    }
    return true;
}

}  // namespace qlr

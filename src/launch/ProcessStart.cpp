#include "app/main.h"
#include "base/Text.h"

namespace qlr {

namespace {
constexpr std::uint32_t kStillActive = 259;
constexpr unsigned kPollInterval = 500;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string ProgramNamedBy(const std::string& commandLine) {
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    if (start == commandLine.size() || commandLine[start] == '"') return std::string();
    for (std::size_t end = start; end <= commandLine.size(); ++end) {
        if (end < commandLine.size() && !IsBlank(commandLine[end])) continue;
        const std::string piece = commandLine.substr(start, end - start);
        if (piece.size() < 4 || UpperCase(piece.substr(piece.size() - 4)) != ".EXE") continue;
        // A bare name is looked up along the search path, which only the system's own rules do.
        return piece.find_first_of("\\:") == std::string::npos ? std::string() : piece;
    }
    return std::string();
}

bool TForm1::StartProcess(const std::string& commandLine) {
    return platform_.SpawnProcess(commandLine, ProgramNamedBy(commandLine)) != nullptr;
}

bool TForm1::StartProcessAndWait(const std::string& commandLine, const std::string& program) {
    auto process = platform_.SpawnProcess(commandLine, program.empty() ? ProgramNamedBy(commandLine) : program);
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

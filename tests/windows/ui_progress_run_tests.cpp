// The progress window of the real Tovanel.exe during whole runs, seen from
// outside as a user sees it: found on the screen, measured, and its pixels
// read back while the database server installer keeps the run waiting.
// With QLR_PROGRESS_SHOT set to a file name, the window and a margin of
// desktop around it are saved there as a bitmap.

#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "TestHttpServer.h"
#include "WineMachine.h"
#include "platform/win32/ProgressWindowWin32.h"

namespace qlr::testing {
namespace {

const std::string kSetupCopy = "C:\\Downloads\\QLRSETUP\\Tovanel.exe";
const std::string kStartup = std::string(WineMachine::kDataFolder) + "\\Tovanel.exe";
const char* const kInstaller = "Firebird-2.1.1.17910-0_Win32.exe";

void PutInt32(std::string& out, std::int32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
}

std::string Package(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string out;
    PutInt32(out, static_cast<std::int32_t>(entries.size()));
    for (const auto& [name, content] : entries) {
        PutInt32(out, static_cast<std::int32_t>(name.size()));
        out += name;
        PutInt32(out, static_cast<std::int32_t>(content.size()));
        uLongf size = compressBound(content.size());
        std::string packed(size, '\0');
        compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                  content.size(), 6);
        out.append(packed, 0, size);
    }
    return out;
}

struct Rgb {
    int r, g, b;
};

::testing::AssertionResult Near(Rgb actual, Rgb expected, int tolerance) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << actual.r << "," << actual.g << "," << actual.b
                                         << ") expected (" << expected.r << "," << expected.g << ","
                                         << expected.b << ") +-" << tolerance;
}

// What the screen showed of the progress window while the run went on.
struct Sighting {
    bool seen = false;
    RECT window{}, client{};
    LONG style = 0;
    std::vector<std::pair<POINT, Rgb>> pixels;  // client coordinates
};

constexpr POINT kProbes[] = {
    {2, 40}, {40, 2}, {274, 40}, {40, 79}, {274, 1}, {274, 2}, {1, 79}, {2, 79}, {8, 7}, {268, 73},
};

// Saves a 24-bit bitmap of the screen rectangle.
void SaveScreen(const RECT& area, const std::string& file) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    win32::UniqueGdiObject bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    HGDIOBJ old = ::SelectObject(memory, bitmap.get());
    ::BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    BITMAPFILEHEADER head{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
                          0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::string bytes(reinterpret_cast<const char*>(&head), sizeof head);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), size);
    WriteBytes(file, bytes);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

class ProgressDuringRun : public WineMachine {
protected:
    void TearDown() override {
        WineMachine::TearDown();
        RemoveTree("C:\\Downloads\\QLRSETUP");
    }

    // Runs the copy at path and watches for the progress window until it ends.
    Sighting Watch(const std::string& path) {
        std::atomic<bool> ended{false};
        std::optional<DWORD> code;
        std::thread run([&] {
            code = RunProgram(path, "", "", 120000);
            ended = true;
        });
        Sighting sighting;
        while (!ended) {
            HWND window = ::FindWindowA(win32::kProgressFormClass, "Installing QLR");
            if (!sighting.seen && window && ::IsWindowVisible(window)) {
                ::Sleep(1000);  // the run waits for the installer: the window has been painted
                sighting.seen = true;
                ::GetWindowRect(window, &sighting.window);
                ::GetClientRect(window, &sighting.client);
                sighting.style = ::GetWindowLongA(window, GWL_STYLE);
                HDC screen = ::GetDC(nullptr);
                for (POINT p : kProbes) {
                    COLORREF c = ::GetPixel(screen, sighting.window.left + p.x, sighting.window.top + p.y);
                    sighting.pixels.push_back({p, {int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c))}});
                }
                ::ReleaseDC(nullptr, screen);
                if (const char* shot = std::getenv("QLR_PROGRESS_SHOT")) {
                    RECT area = sighting.window;
                    ::InflateRect(&area, 12, 12);
                    SaveScreen(area, shot);
                }
            }
            ::Sleep(10);
        }
        run.join();
        EXPECT_TRUE(code.has_value()) << path << " did not end";
        return sighting;
    }
};

TEST_F(ProgressDuringRun, FoundationInstallShowsTheWindowAsDesigned) {
    PlaceTovanel(kSetupCopy);
    const auto installer = ReadBytes(BuildFolder() + "\\standin.exe");
    ASSERT_TRUE(installer);
    TestHttpServer server({{"/updates/Foundation.pak",
                            Package({{std::string("C:\\Temp\\QLR\\Firebird\\") + kInstaller, *installer},
                                     {"C:\\Temp\\QLR\\SchoolData\\mydata.ib", std::string(600, 'd')}})}});
    ScopedEnvironment base("QLR_UPDATE_BASE_URL", server.BaseUrl().c_str());
    ScopedEnvironment hang("QLR_STANDIN_HANG", (std::string(kInstaller) + ":4").c_str());

    const Sighting seen = Watch(kSetupCopy);
    ASSERT_TRUE(seen.seen) << "no progress window during the foundation installation";
    EXPECT_EQ(seen.window.left, 771);
    EXPECT_EQ(seen.window.top, 268);
    EXPECT_EQ(seen.window.right - seen.window.left, 277);
    EXPECT_EQ(seen.window.bottom - seen.window.top, 82);
    EXPECT_EQ(seen.client.right, 277);
    EXPECT_EQ(seen.client.bottom, 82);
    EXPECT_EQ(seen.style & (WS_CAPTION | WS_THICKFRAME | WS_BORDER), 0);

    // Light cyan bevels top and left, blue bottom and right, mitred at the
    // corners; inside them the gradient from pale yellow to pale red.
    const Rgb cyan{128, 255, 255}, blue{0, 128, 255};
    const Rgb expected[] = {cyan, cyan, blue, blue, cyan, blue, cyan, blue, {255, 250, 178}, {255, 160, 156}};
    ASSERT_EQ(seen.pixels.size(), std::size(expected));
    for (std::size_t i = 0; i < seen.pixels.size(); ++i) {
        const auto& [at, colour] = seen.pixels[i];
        EXPECT_TRUE(Near(colour, expected[i], i < 8 ? 0 : 3)) << at.x << "," << at.y;
    }
}

TEST_F(ProgressDuringRun, EarlyStartedApplicationMeansNoWindow) {
    PlaceTovanel(kStartup);
    PlaceStandin(std::string(kDataFolder) + "\\QLR6-38.exe");
    PlaceStandin(std::string(kDataFolder) + "\\Shifter.exe");
    WriteBytes("C:\\SchoolData\\mydata.ib", "db");
    TestHttpServer server({});
    ScopedEnvironment base("QLR_UPDATE_BASE_URL", server.BaseUrl().c_str());

    const Sighting seen = Watch(kStartup);
    EXPECT_FALSE(seen.seen);
    const auto log = ReadBytes("C:\\Temp\\QLR\\InstallLog Startup.txt");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("Foundation loaded.  Starting Existing Program"), std::string::npos) << *log;
    EXPECT_NE(log->find("------------- Start Pt 2 --------------"), std::string::npos) << *log;
}

}  // namespace
}  // namespace qlr::testing

// The progress window on the screen. Whole runs of the real Tovanel.exe are
// watched from outside as a user sees them: the window found, measured, and
// its pixels read back while the database server installer keeps the run
// waiting. With QLR_PROGRESS_SHOT set to a file name, the window and a
// margin of desktop around it are saved there as a bitmap. A window made in
// this process shows the bar and the pressed look.

#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/win32/ProgressWindowWin32.h"
#include "ui/Progress.h"
#include "windows/support/TestHttpServer.h"
#include "windows/support/WineMachine.h"

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

// Bytes that do not compress.
std::string Noise(std::size_t count) {
    std::string out(count, '\0');
    std::uint32_t state = 12345;
    for (char& c : out) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
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
    return ::testing::AssertionFailure() << "got (" << actual.r << "," << actual.g << "," << actual.b << ") expected ("
                                         << expected.r << "," << expected.g << "," << expected.b << ") +-" << tolerance;
}

// What the screen showed of the progress window while the run went on.
struct Sighting {
    bool everShown = false;
    bool seen = false;  // sampled while the run waited
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
    win32::ClientDc screen(nullptr);
    win32::UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    win32::UniqueGdiObject bitmap(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, w, h, screen.get(), area.left, area.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    BITMAPFILEHEADER head{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                          sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::string bytes(reinterpret_cast<const char*>(&head), sizeof head);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), size);
    WriteBytes(file, bytes);
    ::SelectObject(memory.get(), old);
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
            if (window && ::IsWindowVisible(window)) sighting.everShown = true;
            // Once the installer runs, the run waits for it and lets the window paint.
            if (!sighting.seen && window && ::IsWindowVisible(window) && PathExists(kRunsFile)) {
                ::Sleep(700);
                sighting.seen = true;
                ::GetWindowRect(window, &sighting.window);
                ::GetClientRect(window, &sighting.client);
                sighting.style = ::GetWindowLongA(window, GWL_STYLE);
                win32::ClientDc screen(nullptr);
                for (POINT p : kProbes) {
                    COLORREF c = ::GetPixel(screen.get(), sighting.window.left + p.x, sighting.window.top + p.y);
                    sighting.pixels.push_back({p, {int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c))}});
                }
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
    std::vector<std::pair<std::string, std::string>> entries = {{std::string("C:\\Temp\\QLR\\Firebird\\") + kInstaller,
                                                                 *installer},
                                                                {"C:\\Temp\\QLR\\SchoolData\\mydata.ib",
                                                                 std::string(600, 'd')}};
    // For a picture, a package large enough to move the bar visibly.
    if (std::getenv("QLR_PROGRESS_SHOT")) entries.push_back({"C:\\Temp\\QLR\\Quillory\\demo.bin", Noise(7000000)});
    TestHttpServer server({{"/updates/Foundation.pak", Package(entries)}});
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
    EXPECT_FALSE(seen.everShown);
    const auto log = ReadBytes("C:\\Temp\\QLR\\InstallLog Startup.txt");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("Foundation loaded.  Starting Existing Program"), std::string::npos) << *log;
    EXPECT_NE(log->find("------------- Start Pt 2 --------------"), std::string::npos) << *log;
}

// A pixel of the screen.
Rgb ScreenPixel(int x, int y) {
    win32::ClientDc screen(nullptr);
    const COLORREF c = ::GetPixel(screen.get(), x, y);
    return {int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c))};
}

class ProgressWindowHere : public ::testing::Test {
protected:
    void SetUp() override {
        form.AttachWindow(win32::CreateProgressWindow(nullptr, form));
        form.Show();
        HWND window = ::FindWindowA(win32::kProgressFormClass, "Installing QLR");
        ASSERT_NE(window, nullptr);
        panel = ::FindWindowExA(window, nullptr, win32::kGradedPanelClass, nullptr);
        ASSERT_NE(panel, nullptr);
    }
    // At client coordinates of the window, once the display has caught up.
    Rgb Pixel(int x, int y) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::GdiFlush();
        ::Sleep(50);
        return ScreenPixel(771 + x, 268 + y);
    }

    Tf_progress form;
    HWND panel = nullptr;
};

TEST_F(ProgressWindowHere, GaugeShowsFillAndWhiteRestInItsBorder) {
    form.Gauge1.SetProgress(40);
    form.Gauge1.Repaint();
    const int left = 32, top = 48;
    EXPECT_TRUE(Near(Pixel(left + 4, top + 4), {128, 255, 255}, 0));
    EXPECT_TRUE(Near(Pixel(left + 200, top + 4), {255, 255, 255}, 0));
    EXPECT_TRUE(Near(Pixel(left, top + 12), {0, 0, 0}, 0));
    EXPECT_TRUE(Near(Pixel(left + 224, top + 12), {0, 0, 0}, 0));
}

TEST_F(ProgressWindowHere, ClickPressesTheFaceAndRaisesTheClickAsEnterDoes) {
    int clicks = 0;
    bool pressedDuringClick = false;
    form.GradedPanel1.OnClick = [&](TGradedPanel& p) {
        ++clicks;
        pressedDuringClick = p.Pressed();
    };
    EXPECT_TRUE(Near(Pixel(6, 40), {255, 250, 178}, 30));  // no focus frame before the click
    ::SendMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
    EXPECT_TRUE(form.GradedPanel1.Focused());
    EXPECT_TRUE(Near(Pixel(2, 40), {0, 128, 255}, 0));    // bevels swapped
    EXPECT_TRUE(Near(Pixel(6, 40), {128, 128, 128}, 0));  // focus frame inside the bevels
    ::SendMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(100, 20));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(pressedDuringClick);
    EXPECT_TRUE(Near(Pixel(2, 40), {128, 255, 255}, 0));
    ::SendMessageA(panel, WM_KEYUP, VK_RETURN, 0);
    EXPECT_EQ(clicks, 2);
}

}  // namespace
}  // namespace qlr::testing

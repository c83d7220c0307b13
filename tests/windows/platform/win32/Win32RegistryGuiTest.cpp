// The registry in the 32-bit view, and the main window with its controls,
// timer and message loop.

#include "platform/win32/Win32Platform.h"
#include "windows/support/WineMachine.h"

namespace qlr::testing {
namespace {

constexpr const char* kTestKey = "Software\\Tovanel Test";

class PlatformRegistry : public WineMachine {
protected:
    std::unique_ptr<Platform> platform = win32::CreateWin32Platform();

    void TearDown() override {
        RemoveMachineKey(kTestKey);
        WineMachine::TearDown();
    }

    static void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
        win32::UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
};

TEST_F(PlatformRegistry, StringWrittenThroughThePlatformIsReadInThe32BitView) {
    EXPECT_EQ(platform->OpenRegistryKey(RegistryRoot::LocalMachine, kTestKey, false), nullptr);
    auto key = platform->OpenRegistryKey(RegistryRoot::LocalMachine, kTestKey, true);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->WriteString("DefaultInstance", "C:\\Program Files\\Firebird\\Firebird_2_1\\"));

    char raw[256] = {};
    DWORD size = sizeof raw;
    win32::UniqueKey view;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ | KEY_WOW64_32KEY, view.put()), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(::RegQueryValueExA(view.get(), "DefaultInstance", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size),
              ERROR_SUCCESS);
    view.reset();
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(raw, "C:\\Program Files\\Firebird\\Firebird_2_1\\");

    auto again = platform->OpenRegistryKey(RegistryRoot::LocalMachine, kTestKey, false);
    ASSERT_TRUE(again);
    const RegistryValue value = again->ReadValue("DefaultInstance");
    EXPECT_EQ(value.kind, RegistryValue::Kind::String);
    EXPECT_EQ(value.text, "C:\\Program Files\\Firebird\\Firebird_2_1\\");
}

TEST_F(PlatformRegistry, ValuesReadAsStringOtherOrMissingByTheirType) {
    const std::string expandable = "%TEMP%\\QLR";
    const std::string longText(3000, 'q');
    const DWORD number = 7;
    SetRaw("Plain", REG_SZ, "text", 5);
    SetRaw("NoNul", REG_SZ, "abc", 3);
    SetRaw("Expandable", REG_EXPAND_SZ, expandable.c_str(), static_cast<DWORD>(expandable.size() + 1));
    SetRaw("Long", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    SetRaw("Number", REG_DWORD, &number, sizeof number);
    SetRaw("Bytes", REG_BINARY, "\x01\x02", 2);

    struct Case {
        const char* name;
        RegistryValue::Kind kind;
        std::string text;
    };
    const Case cases[] = {
        {"Plain", RegistryValue::Kind::String, "text"},
        {"NoNul", RegistryValue::Kind::String, "abc"},
        {"Expandable", RegistryValue::Kind::String, expandable},
        {"Long", RegistryValue::Kind::String, longText},
        {"Number", RegistryValue::Kind::Other, ""},
        {"Bytes", RegistryValue::Kind::Other, ""},
        {"Absent", RegistryValue::Kind::Missing, ""},
    };
    auto key = platform->OpenRegistryKey(RegistryRoot::LocalMachine, kTestKey, false);
    ASSERT_TRUE(key);
    for (const Case& c : cases) {
        const RegistryValue value = key->ReadValue(c.name);
        EXPECT_EQ(value.kind, c.kind) << c.name;
        if (c.kind == RegistryValue::Kind::String) {
            EXPECT_EQ(value.text, c.text) << c.name;
        }
    }
}

TEST_F(PlatformRegistry, SubKeysOpenOrAreCreatedOnRequest) {
    auto key = platform->OpenRegistryKey(RegistryRoot::LocalMachine, kTestKey, true);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->OpenSubKey("Shell Folders", false), nullptr);
    auto created = key->OpenSubKey("Shell Folders", true);
    ASSERT_TRUE(created);
    EXPECT_TRUE(created->WriteString("Desktop", "C:\\Desk"));
    auto opened = key->OpenSubKey("Shell Folders", false);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->ReadValue("Desktop").text, "C:\\Desk");
}

// ---- the GUI ---------------------------------------------------------------

class PlatformWindow : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = win32::CreateWin32Platform();
    std::unique_ptr<NativeWindow> window = platform->CreateMainWindow({-2000, 211, 1246, 715}, "QLR Updater");
    HWND Main() { return static_cast<HWND>(window->Handle()); }

    static std::string ClassOf(HWND hwnd) {
        char name[64] = {};
        ::GetClassNameA(hwnd, name, sizeof name);
        return name;
    }
    static std::string TextOf(HWND hwnd) {
        std::string text(::GetWindowTextLengthA(hwnd) + 1, '\0');
        text.resize(::GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size())));
        return text;
    }
};

TEST_F(PlatformWindow, MainWindowIsTForm1OffScreen) {
    ASSERT_TRUE(window);
    EXPECT_EQ(ClassOf(Main()), "TForm1");
    EXPECT_EQ(TextOf(Main()), "QLR Updater");
    RECT place{};
    ::GetWindowRect(Main(), &place);
    EXPECT_EQ(place.left, -2000);
    EXPECT_EQ(place.top, 211);
    EXPECT_EQ(place.right - place.left, 1246);
    EXPECT_EQ(place.bottom - place.top, 715);
    EXPECT_FALSE(::IsWindowVisible(Main())) << "shown only when the message loop starts";

    window->SetText("Tovanel.exe Ver 11");
    EXPECT_EQ(TextOf(Main()), "Tovanel.exe Ver 11");
    window->SetBounds({-2000, 211, 1246, 715});
    window->Repaint();
}

TEST_F(PlatformWindow, ControlsAreRealChildWindowsOfTheirKindAtTheirPlaces) {
    struct Case {
        ControlKind kind;
        Bounds bounds;
        const char* className;
        LONG required, forbidden;
    };
    const Case cases[] = {
        {ControlKind::Label, {72, 32, 0, 13}, "Static", 0, 0},
        {ControlKind::Edit, {72, 152, 657, 21}, "Edit", ES_AUTOHSCROLL, ES_MULTILINE},
        {ControlKind::Memo, {560, 328, 641, 121}, "Edit", ES_MULTILINE, ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL},
        {ControlKind::FileList, {72, 56, 177, 73}, "ListBox", LBS_SORT, 0},
    };
    for (const Case& c : cases) {
        auto control = window->AddControl(c.kind, c.bounds, "Caption text");
        ASSERT_TRUE(control);
        HWND hwnd = static_cast<HWND>(control->Handle());
        EXPECT_EQ(::GetParent(hwnd), Main());
        EXPECT_STRCASEEQ(ClassOf(hwnd).c_str(), c.className);
        const LONG style = ::GetWindowLongA(hwnd, GWL_STYLE);
        EXPECT_EQ(style & c.required, c.required) << c.className;
        EXPECT_EQ(style & c.forbidden, 0) << c.className;
        RECT place{};
        ::GetWindowRect(hwnd, &place);
        ::MapWindowPoints(nullptr, Main(), reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, c.bounds.left) << c.className;
        EXPECT_EQ(place.top, c.bounds.top) << c.className;
        if (c.bounds.width > 0) {
            EXPECT_EQ(place.right - place.left, c.bounds.width) << c.className;
        } else {
            EXPECT_GT(place.right - place.left, 0) << "a label is as wide as its caption";
        }
        LOGFONTA font{};
        ASSERT_NE(::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font), 0);
        EXPECT_EQ(font.lfHeight, -11) << c.className;
        EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << c.className;
    }
}

TEST_F(PlatformWindow, PeersMirrorTextAndItemsAndOutliveNothing) {
    auto memo = window->AddControl(ControlKind::Memo, {560, 328, 641, 121}, "Memo3");
    HWND memoWindow = static_cast<HWND>(memo->Handle());
    std::string log;
    for (int i = 0; i < 500; ++i) log += "Copying file: C:\\temp\\QLR\\a.dat to c:\\x\\a.dat....FAILED 12\r\n";
    memo->SetText(log);
    EXPECT_EQ(TextOf(memoWindow), log) << "the whole log, beyond an edit's default limit";

    auto list = window->AddControl(ControlKind::FileList, {72, 56, 177, 73}, "");
    HWND listWindow = static_cast<HWND>(list->Handle());
    list->SetItems({"QLR6-9.exe", "qlr6-40.exe", "QLR6-38.exe"});
    list->SetItems({"b.exe", "C.exe", "a.exe"});
    ASSERT_EQ(::SendMessageA(listWindow, LB_GETCOUNT, 0, 0), 3);
    std::vector<std::string> shown;
    for (int i = 0; i < 3; ++i) {
        char item[64] = {};
        ::SendMessageA(listWindow, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item));
        shown.push_back(item);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"a.exe", "b.exe", "C.exe"}));

    memo.reset();  // dropping a peer leaves the control to its window
    EXPECT_TRUE(::IsWindow(memoWindow));
    window.reset();
    EXPECT_FALSE(::IsWindow(memoWindow));
}

TEST_F(PlatformWindow, TimerRunsItsHandlerInTheLoopUntilTerminate) {
    int ticks = 0;
    platform->StartTimer(30, [&] {
        ++ticks;
        platform->StopTimer();
        platform->Terminate();
    });
    platform->RunMessageLoop();
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(platform->Terminated());
    EXPECT_TRUE(::IsWindowVisible(Main())) << "the loop shows the main window";
}

TEST_F(PlatformWindow, ClosingTheMainWindowEndsTheApplicationButKeepsTheWindow) {
    ::PostMessageA(Main(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(platform->Terminated());
    platform->ProcessMessages();
    EXPECT_TRUE(platform->Terminated());
    EXPECT_TRUE(::IsWindow(Main()));
    platform->RunMessageLoop();  // returns at once
}

TEST_F(PlatformWindow, AnEndedLoopLeavesNothingThatEndsTheNextOne) {
    platform->StartTimer(10, [&] { platform->Terminate(); });
    platform->RunMessageLoop();
    platform->StopTimer();

    auto next = win32::CreateWin32Platform();
    int ticks = 0;
    next->StartTimer(50, [&] {
        if (++ticks == 2) next->Terminate();
    });
    next->RunMessageLoop();
    next->StopTimer();
    EXPECT_EQ(ticks, 2);
}

TEST_F(PlatformWindow, ErrorInATimerHandlerLeavesTheLoopAsAnException) {
    platform->StartTimer(10, [&] {
        platform->StopTimer();
        throw RunError("boom");
    });
    EXPECT_THROW(platform->RunMessageLoop(), RunError);
}

}  // namespace
}  // namespace qlr::testing

#include "platform/win32/ComShellLink.h"

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

#include "platform/win32/Handles.h"

namespace qlr::win32 {

namespace {

std::string HexCode(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// 8-bit ANSI (the system code page) to UTF-16, for IPersistFile.
std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), count);
    return wide;
}

class ComShellLink : public ShellLink {
public:
    ComShellLink(ComPtr<IShellLinkA> link, ComPtr<IPersistFile> file)
        : link_(std::move(link)), file_(std::move(file)) {}

    void SetPath(const std::string& target) override { link_->SetPath(target.c_str()); }

    bool Save(const std::string& linkPath) override {
        const std::wstring path = Widen(linkPath);
        return SUCCEEDED(file_->Save(path.c_str(), FALSE));
    }

private:
    ComPtr<IShellLinkA> link_;
    ComPtr<IPersistFile> file_;
};

}  // namespace

std::unique_ptr<ShellLink> CreateComShellLink() {
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                  object.Out());
    if (FAILED(hr) || !object) throw RunError("Cannot create the shell link object (" + HexCode(hr) + ")");

    ComPtr<IShellLinkA> link;
    hr = object->QueryInterface(IID_IShellLinkA, link.Out());
    if (FAILED(hr) || !link) throw RunError("The shell link object has no IShellLinkA interface (" + HexCode(hr) + ")");
    ComPtr<IPersistFile> file;
    hr = object->QueryInterface(IID_IPersistFile, file.Out());
    if (FAILED(hr) || !file)
        throw RunError("The shell link object has no IPersistFile interface (" + HexCode(hr) + ")");
    return std::make_unique<ComShellLink>(std::move(link), std::move(file));
}

}  // namespace qlr::win32

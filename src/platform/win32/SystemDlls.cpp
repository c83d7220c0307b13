#include "platform/win32/SystemDlls.h"

namespace qlr::win32 {

namespace {

constexpr NTSTATUS kDllNotFound = static_cast<NTSTATUS>(0xC0000135);

HMODULE LoadFromSystemFolder(const char* name) {
    if (HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    // Windows 7 without its loader update knows no search flags; the full path is as safe.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    const std::string folder = SystemFolder();
    if (folder.empty()) return nullptr;
    const std::string path = folder + "\\" + name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <class F>
F* Find(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through void (*)(), the one function pointer type every other converts to without a warning.
    return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

template <class F>
void Bind(HMODULE module, F*& function, const char* name) {
    function = Find<F>(module, name);
}

// Each DLL's functions, found once.
struct WinInetFunctions {
    decltype(&::InternetOpenA) InternetOpenA = nullptr;
    decltype(&::InternetConnectA) InternetConnectA = nullptr;
    decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
    decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
    decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
    decltype(&::InternetReadFile) InternetReadFile = nullptr;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable = nullptr;
    decltype(&::InternetCrackUrlA) InternetCrackUrlA = nullptr;
    decltype(&::InternetCombineUrlA) InternetCombineUrlA = nullptr;
    decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
};

const WinInetFunctions& WinInet() {
    static const WinInetFunctions functions = [] {
        WinInetFunctions f;
        const HMODULE m = LoadFromSystemFolder("wininet.dll");
        Bind(m, f.InternetOpenA, "InternetOpenA");
        Bind(m, f.InternetConnectA, "InternetConnectA");
        Bind(m, f.HttpOpenRequestA, "HttpOpenRequestA");
        Bind(m, f.HttpSendRequestA, "HttpSendRequestA");
        Bind(m, f.HttpQueryInfoA, "HttpQueryInfoA");
        Bind(m, f.InternetSetOptionA, "InternetSetOptionA");
        Bind(m, f.InternetReadFile, "InternetReadFile");
        Bind(m, f.InternetQueryDataAvailable, "InternetQueryDataAvailable");
        Bind(m, f.InternetCrackUrlA, "InternetCrackUrlA");
        Bind(m, f.InternetCombineUrlA, "InternetCombineUrlA");
        Bind(m, f.InternetCloseHandle, "InternetCloseHandle");
        return f;
    }();
    return functions;
}

struct CngFunctions {
    decltype(&::BCryptOpenAlgorithmProvider) BCryptOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) BCryptCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptGetProperty) BCryptGetProperty = nullptr;
    decltype(&::BCryptCreateHash) BCryptCreateHash = nullptr;
    decltype(&::BCryptHashData) BCryptHashData = nullptr;
    decltype(&::BCryptFinishHash) BCryptFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) BCryptDestroyHash = nullptr;
    decltype(&::BCryptImportKeyPair) BCryptImportKeyPair = nullptr;
    decltype(&::BCryptVerifySignature) BCryptVerifySignature = nullptr;
    decltype(&::BCryptDestroyKey) BCryptDestroyKey = nullptr;
};

const CngFunctions& Cng() {
    static const CngFunctions functions = [] {
        CngFunctions f;
        const HMODULE m = LoadFromSystemFolder("bcrypt.dll");
        Bind(m, f.BCryptOpenAlgorithmProvider, "BCryptOpenAlgorithmProvider");
        Bind(m, f.BCryptCloseAlgorithmProvider, "BCryptCloseAlgorithmProvider");
        Bind(m, f.BCryptGetProperty, "BCryptGetProperty");
        Bind(m, f.BCryptCreateHash, "BCryptCreateHash");
        Bind(m, f.BCryptHashData, "BCryptHashData");
        Bind(m, f.BCryptFinishHash, "BCryptFinishHash");
        Bind(m, f.BCryptDestroyHash, "BCryptDestroyHash");
        Bind(m, f.BCryptImportKeyPair, "BCryptImportKeyPair");
        Bind(m, f.BCryptVerifySignature, "BCryptVerifySignature");
        Bind(m, f.BCryptDestroyKey, "BCryptDestroyKey");
        return f;
    }();
    return functions;
}

template <class R, class F, class... A>
R CallOr(F* function, R failed, A... arguments) {
    if (function) return function(arguments...);
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return failed;
}

}  // namespace

void HardenProcess() {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Looked up, not imported: Windows 7 without its loader update lacks it, and the program must still start.
    using SetDirectories = BOOL WINAPI(DWORD);
    if (auto* set = Find<SetDirectories>(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"))
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        ::SetDllDirectoryA("");  // at least not the current folder
}

std::string SystemFolder() {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    std::string folder(buffer, length);
    if (folder.back() == '\\') folder.pop_back();
    return folder;
}

namespace wininet {

HINTERNET InternetOpenA(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
    return CallOr(WinInet().InternetOpenA, HINTERNET{}, agent, access, proxy, bypass, flags);
}
HINTERNET InternetConnectA(HINTERNET session, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context) {
    return CallOr(WinInet().InternetConnectA, HINTERNET{}, session, host, port, user, password, service, flags,
                  context);
}
HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                           LPCSTR* accept, DWORD flags, DWORD_PTR context) {
    return CallOr(WinInet().HttpOpenRequestA, HINTERNET{}, connection, verb, object, version, referrer, accept, flags,
                  context);
}
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
    return CallOr(WinInet().HttpSendRequestA, FALSE, request, headers, headersLength, optional, optionalLength);
}
BOOL HttpQueryInfoA(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index) {
    return CallOr(WinInet().HttpQueryInfoA, FALSE, request, level, buffer, length, index);
}
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    return CallOr(WinInet().InternetSetOptionA, FALSE, handle, option, buffer, length);
}
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD wanted, LPDWORD got) {
    return CallOr(WinInet().InternetReadFile, FALSE, file, buffer, wanted, got);
}
BOOL InternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags, DWORD_PTR context) {
    return CallOr(WinInet().InternetQueryDataAvailable, FALSE, file, available, flags, context);
}
BOOL InternetCrackUrlA(LPCSTR url, DWORD length, DWORD flags, LPURL_COMPONENTSA parts) {
    return CallOr(WinInet().InternetCrackUrlA, FALSE, url, length, flags, parts);
}
BOOL InternetCombineUrlA(LPCSTR base, LPCSTR relative, LPSTR buffer, LPDWORD length, DWORD flags) {
    return CallOr(WinInet().InternetCombineUrlA, FALSE, base, relative, buffer, length, flags);
}
BOOL InternetCloseHandle(HINTERNET handle) { return CallOr(WinInet().InternetCloseHandle, FALSE, handle); }
}  // namespace wininet

namespace bcrypt {
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags) {
    return CallOr(Cng().BCryptOpenAlgorithmProvider, kDllNotFound, algorithm, id, implementation, flags);
}
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    return CallOr(Cng().BCryptCloseAlgorithmProvider, kDllNotFound, algorithm, flags);
}
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG length, ULONG* written,
                           ULONG flags) {
    return CallOr(Cng().BCryptGetProperty, kDllNotFound, object, property, output, length, written, flags);
}
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object, ULONG objectLength,
                          PUCHAR secret, ULONG secretLength, ULONG flags) {
    return CallOr(Cng().BCryptCreateHash, kDllNotFound, algorithm, hash, object, objectLength, secret, secretLength,
                  flags);
}
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG length, ULONG flags) {
    return CallOr(Cng().BCryptHashData, kDllNotFound, hash, input, length, flags);
}
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG length, ULONG flags) {
    return CallOr(Cng().BCryptFinishHash, kDllNotFound, hash, output, length, flags);
}
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) { return CallOr(Cng().BCryptDestroyHash, kDllNotFound, hash); }
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                             BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG length, ULONG flags) {
    return CallOr(Cng().BCryptImportKeyPair, kDllNotFound, algorithm, importKey, blobType, key, input, length, flags);
}
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* padding, PUCHAR hash, ULONG hashLength, PUCHAR signature,
                               ULONG signatureLength, ULONG flags) {
    return CallOr(Cng().BCryptVerifySignature, kDllNotFound, key, padding, hash, hashLength, signature, signatureLength,
                  flags);
}
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) { return CallOr(Cng().BCryptDestroyKey, kDllNotFound, key); }
}  // namespace bcrypt

}  // namespace qlr::win32

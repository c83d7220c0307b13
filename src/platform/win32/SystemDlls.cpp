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

// Each DLL is loaded once, each function looked up once, on first use.
HMODULE WinInetDll() {
    static const HMODULE module = LoadFromSystemFolder("wininet.dll");
    return module;
}
HMODULE CngDll() {
    static const HMODULE module = LoadFromSystemFolder("bcrypt.dll");
    return module;
}
#define QLR_SYSTEM_FUNCTION(dll, name)                                               \
    [] {                                                                             \
        static decltype(&::name) const found = Find<decltype(::name)>(dll(), #name); \
        return found;                                                                \
    }()

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
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetOpenA), HINTERNET{}, agent, access, proxy, bypass, flags);
}
HINTERNET InternetConnectA(HINTERNET session, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetConnectA), HINTERNET{}, session, host, port, user, password,
                  service, flags, context);
}
HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                           LPCSTR* accept, DWORD flags, DWORD_PTR context) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, HttpOpenRequestA), HINTERNET{}, connection, verb, object, version,
                  referrer, accept, flags, context);
}
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, HttpSendRequestA), FALSE, request, headers, headersLength, optional,
                  optionalLength);
}
BOOL HttpQueryInfoA(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, HttpQueryInfoA), FALSE, request, level, buffer, length, index);
}
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetSetOptionA), FALSE, handle, option, buffer, length);
}
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD wanted, LPDWORD got) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetReadFile), FALSE, file, buffer, wanted, got);
}
BOOL InternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags, DWORD_PTR context) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetQueryDataAvailable), FALSE, file, available, flags, context);
}
BOOL InternetCrackUrlA(LPCSTR url, DWORD length, DWORD flags, LPURL_COMPONENTSA parts) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetCrackUrlA), FALSE, url, length, flags, parts);
}
BOOL InternetCombineUrlA(LPCSTR base, LPCSTR relative, LPSTR buffer, LPDWORD length, DWORD flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetCombineUrlA), FALSE, base, relative, buffer, length, flags);
}
BOOL InternetCloseHandle(HINTERNET handle) {
    return CallOr(QLR_SYSTEM_FUNCTION(WinInetDll, InternetCloseHandle), FALSE, handle);
}
}  // namespace wininet

namespace bcrypt {
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptOpenAlgorithmProvider), kDllNotFound, algorithm, id, implementation,
                  flags);
}
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptCloseAlgorithmProvider), kDllNotFound, algorithm, flags);
}
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG length, ULONG* written,
                           ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptGetProperty), kDllNotFound, object, property, output, length,
                  written, flags);
}
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object, ULONG objectLength,
                          PUCHAR secret, ULONG secretLength, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptCreateHash), kDllNotFound, algorithm, hash, object, objectLength,
                  secret, secretLength, flags);
}
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG length, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptHashData), kDllNotFound, hash, input, length, flags);
}
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG length, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptFinishHash), kDllNotFound, hash, output, length, flags);
}
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptDestroyHash), kDllNotFound, hash);
}
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                             BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG length, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptImportKeyPair), kDllNotFound, algorithm, importKey, blobType, key,
                  input, length, flags);
}
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* padding, PUCHAR hash, ULONG hashLength, PUCHAR signature,
                               ULONG signatureLength, ULONG flags) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptVerifySignature), kDllNotFound, key, padding, hash, hashLength,
                  signature, signatureLength, flags);
}
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key) {
    return CallOr(QLR_SYSTEM_FUNCTION(CngDll, BCryptDestroyKey), kDllNotFound, key);
}
}  // namespace bcrypt

}  // namespace qlr::win32

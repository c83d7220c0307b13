#pragma once
// The DLLs that Windows does not always take from the system folder (they are
// not KnownDLLs) are never named in the import table: a copy planted beside a
// setup program would be loaded in their place. Each function below loads its
// DLL from the system folder only, on first use, and keeps it for the life of
// the process. When the DLL or the function is missing, the call fails as the
// system's own does: NULL / FALSE with ERROR_MOD_NOT_FOUND as the last error,
// STATUS_DLL_NOT_FOUND for CNG.

#include <windows.h>

#include <bcrypt.h>
#include <wininet.h>

#include <string>

namespace qlr::win32 {

// First thing in a program: every later DLL load of this process searches the
// system folder only, and the system shows no box for a missing disk or file.
void HardenProcess();

// GetSystemDirectoryA, without a trailing backslash; empty when it fails.
std::string SystemFolder();

namespace wininet {
HINTERNET InternetOpenA(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
HINTERNET InternetConnectA(HINTERNET session, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context);
HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                           LPCSTR* accept, DWORD flags, DWORD_PTR context);
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength);
BOOL HttpQueryInfoA(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index);
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD wanted, LPDWORD got);
BOOL InternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags, DWORD_PTR context);
BOOL InternetCrackUrlA(LPCSTR url, DWORD length, DWORD flags, LPURL_COMPONENTSA parts);
BOOL InternetCombineUrlA(LPCSTR base, LPCSTR relative, LPSTR buffer, LPDWORD length, DWORD flags);
BOOL InternetCloseHandle(HINTERNET handle);
}  // namespace wininet

namespace bcrypt {
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG length, ULONG* written,
                           ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object, ULONG objectLength,
                          PUCHAR secret, ULONG secretLength, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG length, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG length, ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType,
                             BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG length, ULONG flags);
NTSTATUS BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* padding, PUCHAR hash, ULONG hashLength, PUCHAR signature,
                               ULONG signatureLength, ULONG flags);
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key);
}  // namespace bcrypt

}  // namespace qlr::win32

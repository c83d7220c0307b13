#pragma once
// Owners of Windows handles, one kind each, so that no path leaks one:
// kernel objects, searches, registry keys, windows, GDI objects and DCs,
// WinInet handles, COM interface pointers and the COM apartment.

#include <windows.h>

#include <objbase.h>

#include <utility>

// WinInet and CNG handles are closed through the DLLs taken from the system folder.
#include "platform/win32/SystemDlls.h"

namespace qlr::win32 {

template <typename T, typename Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(T value) : value_(value) {}
    ~Unique() { reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    explicit operator bool() const { return Traits::Valid(value_); }
    T release() {
        T value = value_;
        value_ = Traits::Invalid();
        return value;
    }
    void reset(T value = Traits::Invalid()) {
        if (Traits::Valid(value_)) Traits::Close(value_);
        value_ = value;
    }
    // For APIs that return the handle through a pointer.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::Invalid();
};

// Kernel objects: files, processes, threads.
struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueHandle = Unique<HANDLE, KernelHandleTraits>;

// Memory the system allocated for the caller to free with LocalFree.
struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool Valid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { ::LocalFree(h); }
};
using UniqueLocalMemory = Unique<HLOCAL, LocalMemoryTraits>;

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
using UniqueFind = Unique<HANDLE, FindHandleTraits>;

struct RegistryKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool Valid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { ::RegCloseKey(h); }
};
using UniqueKey = Unique<HKEY, RegistryKeyTraits>;

struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static bool Valid(HWND h) { return h != nullptr; }
    static void Close(HWND h) {
        if (::IsWindow(h)) ::DestroyWindow(h);
    }
};
using UniqueWindow = Unique<HWND, WindowTraits>;

struct GdiObjectTraits {
    static HGDIOBJ Invalid() { return nullptr; }
    static bool Valid(HGDIOBJ h) { return h != nullptr; }
    static void Close(HGDIOBJ h) { ::DeleteObject(h); }
};
using UniqueGdiObject = Unique<HGDIOBJ, GdiObjectTraits>;

// A memory DC from CreateCompatibleDC.
struct MemoryDcTraits {
    static HDC Invalid() { return nullptr; }
    static bool Valid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};
using UniqueMemoryDc = Unique<HDC, MemoryDcTraits>;

// The DC of a window's client area (the screen's for no window), for
// measuring and reading pixels outside of painting.
class ClientDc {
public:
    explicit ClientDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~ClientDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    ClientDc(const ClientDc&) = delete;
    ClientDc& operator=(const ClientDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// The DC of one WM_PAINT: validates the window when it goes.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~PaintDc() { ::EndPaint(window_, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// WinInet sessions, connections and requests alike.
struct InternetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static bool Valid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { wininet::InternetCloseHandle(h); }
};
using InternetHandle = Unique<HINTERNET, InternetHandleTraits>;

// One reference to a COM interface.
template <class T>
struct ComReleaseTraits {
    static T* Invalid() { return nullptr; }
    static bool Valid(T* p) { return p != nullptr; }
    static void Close(T* p) { p->Release(); }
};

template <class T>
class ComPtr : public Unique<T*, ComReleaseTraits<T>> {
public:
    using Unique<T*, ComReleaseTraits<T>>::Unique;
    T* operator->() const { return this->get(); }
    // For the out-parameter of CoCreateInstance / QueryInterface.
    void** Out() { return reinterpret_cast<void**>(this->put()); }
};

// COM on the calling thread, in a single-threaded apartment, for the owner's lifetime.
class ComApartment {
public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ready() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};
// CNG: algorithm providers, hash objects and keys.
struct CngAlgorithmTraits {
    static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
    static bool Valid(BCRYPT_ALG_HANDLE h) { return h != nullptr; }
    static void Close(BCRYPT_ALG_HANDLE h) { bcrypt::BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueCngAlgorithm = Unique<BCRYPT_ALG_HANDLE, CngAlgorithmTraits>;

struct CngHashTraits {
    static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
    static bool Valid(BCRYPT_HASH_HANDLE h) { return h != nullptr; }
    static void Close(BCRYPT_HASH_HANDLE h) { bcrypt::BCryptDestroyHash(h); }
};
using UniqueCngHash = Unique<BCRYPT_HASH_HANDLE, CngHashTraits>;

struct CngKeyTraits {
    static BCRYPT_KEY_HANDLE Invalid() { return nullptr; }
    static bool Valid(BCRYPT_KEY_HANDLE h) { return h != nullptr; }
    static void Close(BCRYPT_KEY_HANDLE h) { bcrypt::BCryptDestroyKey(h); }
};
using UniqueCngKey = Unique<BCRYPT_KEY_HANDLE, CngKeyTraits>;

}  // namespace qlr::win32

#pragma once
// Owning wrappers for Win32 handles: one move-only template, one traits type per kind of handle.
// A handle this program does not own (a control of a dialog, a stock object, a shared resource
// icon) stays a plain handle type and says so where it is declared.

#include <io.h>
#include <windows.h>
// After windows.h: wincrypt.h relies on its types.
#include <wincrypt.h>

#include <utility>

namespace fw {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  // Closes the handle now, for callers that must know whether that worked (a file whose last
  // writes the close may still fail). False when the close failed or nothing was held.
  [[nodiscard]] bool Close() noexcept {
    const Type old = release();
    return Traits::IsValid(old) && Traits::Close(old);
  }

  void reset(Type value = Traits::Invalid()) noexcept {
    const Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) {
      Traits::Close(old);
    }
  }

  // For APIs that return a handle through an out-parameter: releases the current one first.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

// Kernel object handles; both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return ::CloseHandle(h) != FALSE; }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::FreeLibrary(h) != FALSE; }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::RegCloseKey(h) == ERROR_SUCCESS; }
};

struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static bool Close(Type h) noexcept { return ::FindClose(h) != FALSE; }
};

template <typename GdiObject>
struct GdiTraits {
  using Type = GdiObject;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::DeleteObject(h) != FALSE; }
};

// Memory device contexts (CreateCompatibleDC).
struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::DeleteDC(h) != FALSE; }
};

struct WindowTraits {
  using Type = HWND;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::DestroyWindow(h) != FALSE; }
};

// C runtime file descriptors (_wsopen_s and friends).
struct CrtFileTraits {
  using Type = int;
  static Type Invalid() noexcept { return -1; }
  static bool IsValid(Type fd) noexcept { return fd != -1; }
  static bool Close(Type fd) noexcept { return ::_close(fd) == 0; }
};

// Certificate stores (CertOpenStore, PFXImportCertStore).
struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::CertCloseStore(h, 0) != FALSE; }
};

// One reference to a certificate (CertFindCertificateInStore, CertDuplicateCertificateContext).
struct CertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::CertFreeCertificateContext(h) != FALSE; }
};

// CryptoAPI provider contexts (CryptAcquireContextW).
struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept { return ::CryptReleaseContext(h, 0) != FALSE; }
};

struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept { return ::CryptDestroyHash(h) != FALSE; }
};

struct CryptKeyTraits {
  using Type = HCRYPTKEY;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept { return ::CryptDestroyKey(h) != FALSE; }
};

// One reference to a COM object (IStorage, IStream, IEnumSTATSTG).
template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type p) noexcept { return p != nullptr; }
  static bool Close(Type p) noexcept {
    p->Release();
    return true;
  }
};

// Looks up an export (by name, or by ordinal through MAKEINTRESOURCEA) as a typed function
// pointer; null when the module lacks it.
template <typename Function>
Function GetExport(HMODULE module, const char* name) {
  // Through a generic function pointer: GetProcAddress's own type is not the export's.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueFont = UniqueHandle<GdiTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiTraits<HBITMAP>>;
using UniqueRegion = UniqueHandle<GdiTraits<HRGN>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueCrtFile = UniqueHandle<CrtFileTraits>;
using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;
template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

}  // namespace fw

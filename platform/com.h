// The minimal COM the system is written against: status codes, IUnknown,
// the apartment count, and a base for objects that hand out one interface.
#pragma once

#include <atomic>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/guid.h"
#include "platform/types.h"

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001u);
constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// A system error code as an HRESULT; here the codes are errno values.
constexpr HRESULT HRESULT_FROM_WIN32(long e) {
  return e <= 0 ? static_cast<HRESULT>(e)
                : static_cast<HRESULT>((static_cast<uint32_t>(e) & 0x0000FFFFu) | 0x80070000u);
}

// The calling thread's last system error (errno).
DWORD GetLastError();

// No virtual destructor: slots 0-2 must be exactly these three, for callers
// in other modules that know only the vtable layout.
struct IUnknown {
  static constexpr GUID iid = MakeGuid("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};
inline constexpr const GUID& IID_IUnknown = IUnknown::iid;

// The apartment is only counted: nothing on this platform needs one.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
int CoInitializeCount();

// An object with one interface I: a reference count that starts at 0 and is
// safe to change from several threads (pages are decoded on workers while
// the window holds the same book), QueryInterface answering IUnknown, I and
// the interfaces I derives from (listed as Bases) with the same pointer, and
// destruction at the last Release. The virtual destructor lands after I's
// slots, so the layout callers see is unchanged.
template <class I, class... Bases>
class CUnknownImpl : public I {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == I::iid || ((riid == Bases::iid) || ...)) {
      *out = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(m_refCount.fetch_add(1, std::memory_order_relaxed) + 1); }
  ULONG Release() override {
    const int32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 protected:
  CUnknownImpl() = default;
  virtual ~CUnknownImpl() = default;
  CUnknownImpl(const CUnknownImpl&) = delete;
  CUnknownImpl& operator=(const CUnknownImpl&) = delete;

  std::atomic<int32_t> m_refCount{0};
};

// The same for an object with two faces that do not derive one from the
// other (a dialog with a second interface, a callback answering a second
// question): IUnknown and the first interface's IID give the first face.
template <class A, class B>
class CUnknownImpl2 : public A, public B {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == A::iid)
      *out = static_cast<A*>(this);
    else if (riid == B::iid)
      *out = static_cast<B*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return static_cast<ULONG>(m_refCount.fetch_add(1, std::memory_order_relaxed) + 1); }
  ULONG Release() override {
    const int32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 protected:
  CUnknownImpl2() = default;
  virtual ~CUnknownImpl2() = default;
  CUnknownImpl2(const CUnknownImpl2&) = delete;
  CUnknownImpl2& operator=(const CUnknownImpl2&) = delete;

  std::atomic<int32_t> m_refCount{0};
};

// Hands out a freshly made object (count 0) through its own QueryInterface,
// so the receiver holds the one reference; the object goes if it is refused.
inline HRESULT HandOut(IUnknown* object, REFIID riid, void** out) {
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, out);
  object->Release();
  return hr;
}

// Releases *p (when there is one) and sets it to null.
template <class T>
void SafeRelease(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

// Puts `value` into `slot` with a reference of its own, releasing the old.
template <class T>
void Assign(T*& slot, std::type_identity_t<T>* value) {
  if (value != nullptr) value->AddRef();
  if (slot != nullptr) slot->Release();
  slot = value;
}

// Owns one reference: released when it goes; a copy takes a reference of
// its own. &ref is the out-pointer slot of a creating call (whatever was
// held is released first).
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef& other) : m_p(other.m_p) {
    if (m_p != nullptr) m_p->AddRef();
  }
  ComRef& operator=(const ComRef& other) {
    if (other.m_p != nullptr) other.m_p->AddRef();
    Reset();
    m_p = other.m_p;
    return *this;
  }
  ComRef(ComRef&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != std::addressof(other)) {
      Reset();
      m_p = other.m_p;
      other.m_p = nullptr;
    }
    return *this;
  }

  T** operator&() {
    Reset();
    return &m_p;
  }
  T* operator->() const { return m_p; }
  T* get() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  void Reset() {
    if (m_p != nullptr) m_p->Release();
    m_p = nullptr;
  }
  // Takes over a reference the caller owns.
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  // Holds `p` with a reference of its own.
  void Set(T* p) {
    if (p != nullptr) p->AddRef();
    Reset();
    m_p = p;
  }

 private:
  T* m_p = nullptr;
};

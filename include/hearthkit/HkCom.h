// COM holders: CComPtr owns one counted reference, CComBSTR owns one BSTR.
// Both have the face of their ATL namesakes as far as this library uses it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <memory>
#include <utility>

template <typename T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(T* p) noexcept : p(p) { AddRefIfSet(); }
    CComPtr(const CComPtr& other) noexcept : p(other.p) { AddRefIfSet(); }
    CComPtr(CComPtr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr& operator=(T* other) noexcept {
        if (other != p) {
            CComPtr(other).Swap(*this);
        }
        return *this;
    }
    CComPtr& operator=(const CComPtr& other) noexcept { return *this = other.p; }
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != std::addressof(other)) {
            Release();
            p = std::exchange(other.p, nullptr);
        }
        return *this;
    }

    operator T*() const noexcept { return p; }
    T* operator->() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    // For out-parameters; the holder must be empty (ATL asserts the same).
    T** operator&() noexcept {
        Release();
        return &p;
    }
    bool operator!() const noexcept { return p == nullptr; }

    void Release() noexcept {
        if (T* old = std::exchange(p, nullptr)) {
            old->Release();
        }
    }
    // Takes over a reference without adding one.
    void Attach(T* other) noexcept {
        Release();
        p = other;
    }
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    void Swap(CComPtr& other) noexcept { std::swap(p, other.p); }

    HRESULT CopyTo(T** out) const noexcept {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = p;
        if (p != nullptr) {
            p->AddRef();
        }
        return S_OK;
    }
    template <typename Q>
    HRESULT QueryInterface(Q** out) const noexcept {
        return p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(out));
    }
    HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) noexcept {
        Release();
        return ::CoCreateInstance(clsid, outer, context, __uuidof(T), reinterpret_cast<void**>(&p));
    }

    T* p = nullptr;

private:
    void AddRefIfSet() noexcept {
        if (p != nullptr) {
            p->AddRef();
        }
    }
};

class CComBSTR {
public:
    CComBSTR() noexcept = default;
    CComBSTR(const wchar_t* text) : m_str(text ? ::SysAllocString(text) : nullptr) {}
    CComBSTR(UINT length, const wchar_t* text) : m_str(::SysAllocStringLen(text, length)) {}
    CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
    ~CComBSTR() { Empty(); }

    CComBSTR& operator=(const CComBSTR& other) {
        if (this != std::addressof(other)) {
            Attach(other.Copy());
        }
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& other) noexcept {
        if (this != std::addressof(other)) {
            Attach(std::exchange(other.m_str, nullptr));
        }
        return *this;
    }
    CComBSTR& operator=(const wchar_t* text) {
        if (text != m_str) {
            Attach(text ? ::SysAllocString(text) : nullptr);
        }
        return *this;
    }

    operator BSTR() const noexcept { return m_str; }
    BSTR* operator&() noexcept {
        Empty();
        return &m_str;
    }
    bool operator!() const noexcept { return m_str == nullptr; }
    unsigned int Length() const noexcept { return ::SysStringLen(m_str); }

    BSTR Copy() const { return m_str ? ::SysAllocStringLen(m_str, ::SysStringLen(m_str)) : nullptr; }
    void Attach(BSTR other) noexcept {
        if (other != m_str) {
            Empty();
            m_str = other;
        }
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    void Empty() noexcept {
        ::SysFreeString(m_str);
        m_str = nullptr;
    }

    BSTR m_str = nullptr;
};

#pragma once
// Ownership of what COM hands out: an interface pointer released once, a VARIANT cleared
// once, a BSTR freed once. Every pointer this backend holds lives in one of these, so no
// path (an exception included) leaves a reference behind, which would keep the server alive.

#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace com {

template<class T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already owns.
    static ComRef adopt(T *p)
    {
        ComRef r;
        r.m_p = p;
        return r;
    }
    // Adds a reference of its own.
    static ComRef share(T *p)
    {
        if (p)
            p->AddRef();
        return adopt(p);
    }
    ComRef(const ComRef &other) : m_p(other.m_p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComRef(ComRef &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComRef &operator=(ComRef other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~ComRef() { reset(); }

    void reset()
    {
        if (T *p = std::exchange(m_p, nullptr))
            p->Release();
    }
    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For functions that hand out a new reference through an out-parameter.
    T **out()
    {
        reset();
        return &m_p;
    }
    // The pointer with a reference of its own, for an out-parameter the caller fills.
    T *detach() { return std::exchange(m_p, nullptr); }

private:
    T *m_p = nullptr;
};

class VariantArg {
public:
    VariantArg() { VariantInit(&m_v); }
    ~VariantArg() { VariantClear(&m_v); }
    VariantArg(const VariantArg &) = delete;
    VariantArg &operator=(const VariantArg &) = delete;
    VariantArg(VariantArg &&other) noexcept
    {
        m_v = other.m_v;
        VariantInit(&other.m_v);
    }

    VARIANT *get() { return &m_v; }
    const VARIANT &value() const { return m_v; }

private:
    VARIANT m_v;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR b) : m_b(b) {}
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;

    BSTR get() const { return m_b; }
    BSTR *out()
    {
        SysFreeString(std::exchange(m_b, nullptr));
        return &m_b;
    }

private:
    BSTR m_b = nullptr;
};

} // namespace com

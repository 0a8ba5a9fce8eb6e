#pragma once
// COM held by RAII: a move-only owning pointer with an out-parameter helper,
// an owner for CoTaskMemAlloc'ed memory, and a per-thread apartment scope.

#include <objbase.h>

#include <cstddef>
#include <utility>

namespace platform::win32 {

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) { }
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) { }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }
    // Releases what is held and returns the address for a call that fills it.
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Queries another interface of the same object.
    template <class U> HRESULT as(ComPtr<U>& out) const
    {
        return p_ ? p_->QueryInterface(__uuidof(U), out.putVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// Memory the platform allocated with CoTaskMemAlloc.
template <class T> class CoTaskMem {
public:
    CoTaskMem() = default;
    ~CoTaskMem() { CoTaskMemFree(p_); }
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put()
    {
        CoTaskMemFree(p_);
        p_ = nullptr;
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// Initialises COM for the multithreaded apartment on the calling thread for
// the life of the object; a thread already in another apartment keeps it.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) { }
    ~ComScope()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_ = E_FAIL;
};

// Makes sure the calling thread has COM, for as long as the thread lives.
inline void ensureCom()
{
    thread_local ComScope scope;
    (void)scope;
}

} // namespace platform::win32

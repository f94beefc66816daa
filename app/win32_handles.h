// Small owners of Win32 and COM resources, so that every early return of a
// step releases what the step took.
#pragma once

#include <windows.h>

namespace qorn::app {

// A COM interface pointer, released once.
template <class T>
class ComPointer {
  public:
    ComPointer() = default;
    ~ComPointer() {
        if (p_) p_->Release();
    }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void** out() { return reinterpret_cast<void**>(&p_); }

  private:
    T* p_ = nullptr;
};

// CoInitialize on this thread for the object's lifetime. "Already
// initialised" counts as success and is balanced like any other.
class ComScope {
  public:
    ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

// A window's device context from GetDC.
class WindowDC {
  public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// An item-ID list from the shell, freed with the task allocator.
class ItemIdList {
  public:
    ItemIdList() = default;
    ~ItemIdList() { CoTaskMemFree(list_); }
    ItemIdList(const ItemIdList&) = delete;
    ItemIdList& operator=(const ItemIdList&) = delete;
    PIDLIST_ABSOLUTE get() const { return list_; }
    PIDLIST_ABSOLUTE* out() { return &list_; }
    void reset(PIDLIST_ABSOLUTE list) {
        CoTaskMemFree(list_);
        list_ = list;
    }

  private:
    PIDLIST_ABSOLUTE list_ = nullptr;
};

inline const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

}  // namespace qorn::app

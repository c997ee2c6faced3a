// Owners of what the system hands out: keys, file, find and kernel handles, modules, memory the
// system allocated, GDI objects and COM interfaces. One template; each kind says only what its
// empty value is and how it goes back to the system. An owner closes what it holds on every way
// out of its scope and can be moved, never copied, so nothing is closed twice or left open.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <objbase.h>

template <typename Traits> class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() : Value(Traits::Empty()) {}
    explicit UniqueHandle(Type value) : Value(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) : Value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const { return Value; }
    explicit operator bool() const { return Value != Traits::Empty(); }
    // Lets go of the value without closing it, for a caller that hands it on.
    Type release() {
        Type value = Value;
        Value = Traits::Empty();
        return value;
    }
    // Closes what is held and takes over `value` (or nothing).
    void reset(Type value = Traits::Empty()) {
        Type old = Value;
        Value = value;
        if (old != Traits::Empty())
            Traits::Close(old);
    }
    // Closes what is held, for a caller that must know whether the system took it back (a file
    // written, say); true when nothing was held.
    bool close() { return Value == Traits::Empty() || Traits::Close(release()); }
    // For the out-parameter of a call that hands over a new value: what was held goes first.
    Type* put() {
        reset();
        return &Value;
    }
    // For a call that hands over an interface through a void** (CoCreateInstance, say).
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // The members of what a pointer owner holds (a COM interface).
    Type operator->() const { return Value; }

  private:
    Type Value;
};

namespace handle_traits {
template <typename T, T EmptyValue, bool (*CloseFunction)(T)> struct Simple {
    using Type = T;
    static Type Empty() { return EmptyValue; }
    static bool Close(Type value) { return CloseFunction(value); }
};
// INVALID_HANDLE_VALUE is no constant expression, so the kinds that use it for "none" say so in
// a function.
template <bool (*CloseFunction)(HANDLE)> struct InvalidIsEmpty {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool Close(Type value) { return CloseFunction(value); }
};
inline bool CloseKernel(HANDLE handle) {
    return CloseHandle(handle) != FALSE;
}
inline bool CloseFind(HANDLE handle) {
    return FindClose(handle) != FALSE;
}
inline bool CloseKey(HKEY key) {
    return RegCloseKey(key) == ERROR_SUCCESS;
}
inline bool CloseModule(HMODULE module) {
    return FreeLibrary(module) != FALSE;
}
inline bool FreeLocal(void* memory) {
    return LocalFree(memory) == nullptr;
}
inline bool FreeTask(void* memory) {
    CoTaskMemFree(memory);
    return true;
}
inline bool FreeBstr(BSTR text) {
    SysFreeString(text);
    return true;
}
inline bool DeleteGdiObject(HGDIOBJ object) {
    return DeleteObject(object) != FALSE;
}
inline bool ClosePrivateSpace(HANDLE space) {
    return ClosePrivateNamespace(space, 0) != FALSE; // left to end with its last handle
}
inline bool DeleteBoundary(HANDLE boundary) {
    DeleteBoundaryDescriptor(boundary);
    return true;
}
template <typename Interface> struct Com {
    using Type = Interface*;
    static Type Empty() { return nullptr; }
    static bool Close(Type pointer) {
        pointer->Release();
        return true;
    }
};
} // namespace handle_traits

// Kernel objects whose "none" is a null handle: tokens, processes, threads, mutexes.
using OwnedHandle =
    UniqueHandle<handle_traits::Simple<HANDLE, nullptr, handle_traits::CloseKernel>>;
// What CreateFile hands out, where "none" is INVALID_HANDLE_VALUE.
using OwnedFile = UniqueHandle<handle_traits::InvalidIsEmpty<handle_traits::CloseKernel>>;
using OwnedFind = UniqueHandle<handle_traits::InvalidIsEmpty<handle_traits::CloseFind>>;
using OwnedKey = UniqueHandle<handle_traits::Simple<HKEY, nullptr, handle_traits::CloseKey>>;
using OwnedModule =
    UniqueHandle<handle_traits::Simple<HMODULE, nullptr, handle_traits::CloseModule>>;
// Memory of LocalAlloc, such as a security descriptor the system converted.
using OwnedLocal = UniqueHandle<handle_traits::Simple<void*, nullptr, handle_traits::FreeLocal>>;
// Memory of the task allocator, such as a shell item list.
using OwnedTaskMemory =
    UniqueHandle<handle_traits::Simple<void*, nullptr, handle_traits::FreeTask>>;
using OwnedBstr = UniqueHandle<handle_traits::Simple<BSTR, nullptr, handle_traits::FreeBstr>>;
using OwnedGdiObject =
    UniqueHandle<handle_traits::Simple<HGDIOBJ, nullptr, handle_traits::DeleteGdiObject>>;
// A private object namespace, and the boundary descriptor that names it.
using OwnedPrivateNamespace =
    UniqueHandle<handle_traits::Simple<HANDLE, nullptr, handle_traits::ClosePrivateSpace>>;
using OwnedBoundary =
    UniqueHandle<handle_traits::Simple<HANDLE, nullptr, handle_traits::DeleteBoundary>>;
template <typename Interface> using ComRef = UniqueHandle<handle_traits::Com<Interface>>;

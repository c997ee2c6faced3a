// COM interface pointers held for one scope.
#pragma once

// Holds one COM interface pointer and releases it on every way out of the scope.
template <typename Interface> class ComRef {
  public:
    ComRef() : pointer(nullptr) {}
    ~ComRef() {
        if (pointer)
            pointer->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* operator->() const { return pointer; }
    Interface* Get() const { return pointer; }
    // For the out-parameter of a call that hands over a new reference; only while empty.
    Interface** Receive() { return &pointer; }
    void** ReceiveUntyped() { return reinterpret_cast<void**>(&pointer); }

  private:
    Interface* pointer;
};

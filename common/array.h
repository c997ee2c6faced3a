#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

// Thrown by value when memory runs out; the process exit code is chosen elsewhere.
enum BDL_EXIT { BDL_EXIT_NO_MEMORY = 8 };

// Raises BDL_EXIT_NO_MEMORY. Every allocation failure goes through here so that no caller ever
// continues with a null block.
[[noreturn]] void MemoryExit();

// Growable contiguous array of plain elements. Storage is moved with realloc, so elements are
// copied bytewise and no constructor or destructor of T ever runs; growing leaves the new
// elements uninitialised for the caller to fill.
template <typename T> struct Array {
    static_assert(std::is_trivially_copyable<T>::value,
                  "Array moves its elements with realloc and needs byte-copyable types");

    T* Data;
    uint32_t Count;
    uint32_t Capacity;

    Array() : Data(nullptr), Count(0), Capacity(0) {}

    explicit Array(uint32_t count) : Data(nullptr), Count(0), Capacity(0) { Extend(count); }

    ~Array() { free(Data); }

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    void Extend(uint32_t n) {
        // Reject a count that would wrap around instead of shrinking the array silently.
        if (n > UINT32_MAX - Count)
            MemoryExit();
        uint32_t needed = Count + n;
        if (needed <= Capacity) {
            Count = needed;
            return;
        }
        // A quarter more plus a fixed step keeps one-by-one appends from reallocating each time.
        uint64_t step = uint64_t(Capacity) + Capacity / 4 + 32;
        uint64_t grown = step > needed ? step : needed;
        if (grown > UINT32_MAX)
            grown = UINT32_MAX;
        if (grown > SIZE_MAX / sizeof(T))
            MemoryExit();
        void* data = realloc(Data, size_t(grown) * sizeof(T));
        if (data == nullptr)
            MemoryExit(); // Count stays within the old Capacity, so the array remains consistent.
        Data = static_cast<T*>(data);
        Capacity = uint32_t(grown);
        Count = needed;
    }

    void Resize(uint32_t count) {
        // Shrinking keeps the storage so that growing back to the old size costs nothing.
        if (count <= Capacity)
            Count = count;
        else
            Extend(count - Count);
    }

    // Taken by value: x may be an element of this array, which Extend can move.
    void Append(T x) {
        Extend(1);
        Data[Count - 1] = x;
    }

    // Exchanges the contents of two arrays without copying an element.
    void Swap(Array& other) {
        T* data = Data;
        Data = other.Data;
        other.Data = data;
        uint32_t count = Count;
        Count = other.Count;
        other.Count = count;
        uint32_t capacity = Capacity;
        Capacity = other.Capacity;
        other.Capacity = capacity;
    }

    T& operator[](size_t index) { return Data[index]; }
    const T& operator[](size_t index) const { return Data[index]; }
};

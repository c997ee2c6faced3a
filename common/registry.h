// Registry access of the program.
#pragma once
#include <windows.h>

// Owns one open registry key and closes it when it goes, so that no way out of a function
// leaves a key open.
class RegistryKey {
  public:
    RegistryKey() : Key(nullptr) {}
    explicit RegistryKey(HKEY key) : Key(key) {}
    ~RegistryKey() { Reset(nullptr); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return Key; }
    explicit operator bool() const { return Key != nullptr; }
    // Closes the key held so far and takes over another one (or none).
    void Reset(HKEY key) {
        if (Key)
            RegCloseKey(Key);
        Key = key;
    }

  private:
    HKEY Key;
};

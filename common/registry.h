// Registry access of the program. Every operation names its target by a root, a key path and,
// for values, a value name. Under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE a path is relative to
// the product key "Software\Bundlo" unless it begins with a backslash. HKEY_CLASSES_ROOT stands
// for the machine's classes, HKEY_LOCAL_MACHINE\Software\Classes, where every request for it
// goes: on Windows a write through the merged root lands in the user's own classes wherever that
// user has a key of the same name, and a read sees the user's key first, so a machine-wide
// association would reach one user and save that user's class as the previous owner. A null root
// reaches only the settings file.
//
// Each operation first offers its request to the store plugged in (RegistryStore: the settings
// file, which serves the product's own keys in a portable installation and drops everything else
// while it switches integration off).
// Reads never fail outward (they give the caller's default); writes return the Win32 code, of
// which callers test ERROR_ACCESS_DENIED; deletions report nothing.
#pragma once
#include <windows.h>
#include <stddef.h>

#include "common/handles.h"

// What a request the store did not take answers to (RegistryStore::LetsRequestsThrough): the
// settings file's integration switch, as for every reader and the setup; or, for the removal of
// an installation that recorded its registrations on the machine, that record, which undoes them
// whatever a file says now (one imported after the setup, say). A damaged file still keeps
// everything away.
enum class Reach : unsigned char { AsSettingsSay, PastIntegrationSwitch };

// A root, the view every operation through it uses (0: the process's own view, KEY_WOW64_32KEY
// or KEY_WOW64_64KEY) and its reach. A bare root (implicitly) is the process's own view as the
// settings say, so both are always named where the operation is called, never set for a stretch
// of calls.
struct RegistryRoot {
    RegistryRoot(HKEY root, REGSAM view = 0, Reach reach = Reach::AsSettingsSay)
        : Root(root), View(view), By(reach) {}
    HKEY Root;
    REGSAM View;
    Reach By;
};
inline RegistryRoot InView(HKEY root, REGSAM view, Reach reach = Reach::AsSettingsSay) {
    return RegistryRoot(root, view, reach);
}
// The machine's classes with that reach.
inline RegistryRoot ClassesRoot(Reach reach) {
    return RegistryRoot(HKEY_CLASSES_ROOT, 0, reach);
}

// One open key and the view it was opened in, which every key opened below it keeps.
class RegistryKey {
  public:
    RegistryKey() : View(0) {}
    RegistryKey(HKEY key, REGSAM view) : Key(key), View(view) {}
    HKEY get() const { return Key.get(); }
    REGSAM view() const { return View; }
    explicit operator bool() const { return bool(Key); }

  private:
    OwnedKey Key;
    REGSAM View;
};

// Capacities in characters, terminator included.
const size_t RegistryPathCapacity = 512;
const size_t RegistryNameCapacity = 256; // the registry's own limit for a key name

// The sub-key path to hand to the registry for (root, path). False when it does not fit: the
// operations then leave the registry alone, since a cut path names another key.
bool ResolveKeyPath(RegistryRoot root, const wchar_t* path, wchar_t* resolved, size_t capacity);
template <size_t N>
bool ResolveKeyPath(RegistryRoot root, const wchar_t* path, wchar_t (&resolved)[N]) {
    return ResolveKeyPath(root, path, resolved, N);
}
// The root the registry is asked for: HKEY_LOCAL_MACHINE for HKEY_CLASSES_ROOT, else the root.
HKEY SystemRoot(HKEY root);
// The root's name as Regedit shows it ("HKEY_CLASSES_ROOT"), for messages.
const wchar_t* RootName(HKEY root);
// The view where programs of one bitness look. On 64-bit Windows the two differ for
// HKEY_LOCAL_MACHINE\Software and HKEY_CLASSES_ROOT\CLSID, and naming the view makes the 32-bit
// and the 64-bit build reach the same keys; 32-bit Windows has one view (0).
REGSAM ProgramRegistryView(bool for64BitPrograms);

// Every view a registration for all programs must be written to: both on 64-bit Windows, the one
// view elsewhere. Returns how many it put into `views`.
size_t AllProgramRegistryViews(REGSAM views[2]);

// Whether a key is there. KeyMissing only when the registry says so; a key that cannot be opened
// for another reason (no rights, say) is KeyUnknown, for a caller that must not take such a key
// for an absent one.
enum KeyPresence { KeyMissing, KeyPresent, KeyUnknown };
KeyPresence FindKey(RegistryRoot root, const wchar_t* path);
// Whether a key holds anything: KeyEmpty when it is there with neither a value nor a sub-key,
// as a run cut between creating a key and writing its value leaves it. A key the settings file
// answers for is KeyFilled when it has entries.
enum KeyContents { KeyAbsent, KeyEmpty, KeyFilled, KeyContentsUnknown };
KeyContents FindKeyContents(RegistryRoot root, const wchar_t* path);
// FindKey(...) == KeyPresent.
bool KeyExists(RegistryRoot root, const wchar_t* path);
// How a read went, for a caller that must tell a refusal from an absence: ReadDone (the value,
// or what the settings file serves), ReadMissing (the registry says the key or value is not
// there: the default stands for it), ReadTooLong (the value does not fit the buffer: the default
// is given), ReadRefused (the default is given, but the value may well be there: the registry
// refused the key or the value), ReadWrongType (a number that is not a REG_DWORD of exactly four
// bytes, written there by someone else: the default is given, as for a missing one, and a
// diagnostic line names the value).
enum ReadResult { ReadDone, ReadMissing, ReadTooLong, ReadRefused, ReadWrongType };
DWORD GetDword(RegistryRoot root, const wchar_t* path, const wchar_t* name, DWORD fallback,
               ReadResult* result = nullptr);
// Always leaves a terminated text in `out`: the value, or the default. False when the registry
// read failed (the value missing included).
bool GetString(RegistryRoot root, const wchar_t* path, const wchar_t* name, wchar_t* out,
               const wchar_t* fallback, size_t capacity, ReadResult* result = nullptr);
template <size_t N>
bool GetString(RegistryRoot root, const wchar_t* path, const wchar_t* name, wchar_t (&out)[N],
               const wchar_t* fallback, ReadResult* result = nullptr) {
    return GetString(root, path, name, out, fallback, N, result);
}
LONG SetString(RegistryRoot root, const wchar_t* path, const wchar_t* name, const wchar_t* text);
LONG SetDword(RegistryRoot root, const wchar_t* path, const wchar_t* name, DWORD value);
// True when the value is gone: deleted, or not there; false when the deletion was refused.
bool DeleteValue(RegistryRoot root, const wchar_t* path, const wchar_t* name);
// The registry refuses a key that still has sub-keys; that is not reported, and the answer says
// so. A key already gone counts as gone.
enum KeyDeletion { KeyGone, KeyHasSubKeys, KeyRefused };
KeyDeletion DeleteEmptyKey(RegistryRoot root, const wchar_t* path);
// Deletes the key and everything below it, in passes until a pass deletes nothing; what cannot
// be deleted stays without an error. Every key is opened as itself, a link included, and deleted
// through that handle: a link goes, never what it names.
void DeleteKeyTree(RegistryRoot root, const wchar_t* path);

// One value of another program's key, as the registry holds it, so that it can be given back
// exactly: name, type and bytes.
const size_t RegistryValueNameCapacity = 256;
const size_t RegistryValueDataCapacity = 2048;
struct RegistryValue {
    wchar_t Name[RegistryValueNameCapacity];
    DWORD Type;
    BYTE Data[RegistryValueDataCapacity];
    DWORD Size;
};
enum ValueReading { ValueRead, NoMoreValues, ValueTooLarge, ValueUnreadable };
// The value at `index` in the key's enumeration order. ValueTooLarge when its name or data do
// not fit: the caller cannot keep it whole. ValueUnreadable when the registry refused the key or
// the enumeration for another reason than its end: what is there is unknown. A missing key has
// no values. Keys outside the product's own only (the settings file holds none of them); with
// integration off there is nothing to read.
ValueReading ReadValueAt(RegistryRoot root, const wchar_t* path, DWORD index, RegistryValue* value);
// A text value that must be read whole, such as another program's class name: missing (the
// registry says the key or the value is not there), read, unreadable (not text, or longer than
// the buffer), or refused (the registry refused the key or the value: it may be anything). Same
// keys as ReadValueAt.
enum TextReading { TextMissing, TextRead, TextUnreadable, TextRefused };
TextReading ReadWholeText(RegistryRoot root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                          size_t capacity);
template <size_t N>
TextReading ReadWholeText(RegistryRoot root, const wchar_t* path, const wchar_t* name,
                          wchar_t (&out)[N]) {
    return ReadWholeText(root, path, name, out, N);
}
// Writes a value of any type, for keys outside the product's own (see ReadValueAt).
LONG SetTypedValue(RegistryRoot root, const wchar_t* path, const RegistryValue& value);

// A value of the product's key under HKEY_CURRENT_USER, read from the registry alone, never
// from the settings file: for the values that say where the settings file and the language files
// are, which the settings file cannot answer for. The bytes as stored, no terminator added, and
// their type; returns the registry's answer (ERROR_MORE_DATA when they do not fit `*bytes`).
LONG ReadUserValueDirect(const wchar_t* path, const wchar_t* name, DWORD* type, void* data,
                         DWORD* bytes);

// The archiver's per-user settings under HKEY_CURRENT_USER.
DWORD GetUserDword(const wchar_t* path, const wchar_t* name, DWORD fallback,
                   ReadResult* result = nullptr);
bool GetUserString(const wchar_t* path, const wchar_t* name, wchar_t* out, const wchar_t* fallback,
                   size_t capacity, ReadResult* result = nullptr);
template <size_t N>
bool GetUserString(const wchar_t* path, const wchar_t* name, wchar_t (&out)[N],
                   const wchar_t* fallback, ReadResult* result = nullptr) {
    return GetUserString(path, name, out, fallback, N, result);
}
LONG SetUserString(const wchar_t* path, const wchar_t* name, const wchar_t* text);
LONG SetUserDword(const wchar_t* path, const wchar_t* name, DWORD value);

// What answers the operations before the registry: the settings store of a portable
// installation plugs one in at start-up. Each request returns true when the store took it
// (served it, or dropped it); the registry is then left alone. Writes put their outcome in
// *result. A null root reaches only the store.
class RegistryStore {
  public:
    virtual bool TestKey(HKEY root, const wchar_t* path, bool* exists) = 0;
    virtual bool ReadNumber(HKEY root, const wchar_t* path, const wchar_t* name, DWORD fallback,
                            DWORD* value) = 0;
    virtual bool ReadText(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                          const wchar_t* fallback, size_t capacity) = 0;
    virtual bool WriteText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                           LONG* result) = 0;
    virtual bool WriteNumber(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value,
                             LONG* result) = 0;
    virtual bool DeleteValue(HKEY root, const wchar_t* path, const wchar_t* name) = 0;
    virtual bool DeleteKey(HKEY root, const wchar_t* path) = 0;
    // False while the store keeps every request it did not take, of that reach, away from the
    // registry.
    virtual bool LetsRequestsThrough(Reach reach) = 0;

  protected:
    ~RegistryStore() = default;
};
// The store every operation asks first, or none (null).
void PlugInRegistryStore(RegistryStore* store);

// Test seam: the advapi32 calls of the operations above, all in one table. A test replaces an
// entry (to refuse machine-wide writes with ERROR_ACCESS_DENIED, say) and restores the table
// with OverrideRegistryFunctions(nullptr). Production code never calls it.
struct RegistryFunctions {
    decltype(&RegOpenKeyExW) OpenKey;
    decltype(&RegCreateKeyExW) CreateKey;
    decltype(&RegQueryValueExW) QueryValue;
    decltype(&RegSetValueExW) SetValue;
    decltype(&RegDeleteValueW) DeleteValue;
    decltype(&RegDeleteKeyW) DeleteKey;
    decltype(&RegEnumKeyExW) EnumKey;
    decltype(&RegDeleteKeyExW) DeleteKeyEx;
    decltype(&RegEnumValueW) EnumValue;
    // Deletes the key the handle names, which has no sub-keys (a link key included, not its
    // target); the answer is a Win32 code.
    LONG(WINAPI* DeleteOpenedKey)(HKEY key);
};
const RegistryFunctions& RealRegistryFunctions();
void OverrideRegistryFunctions(const RegistryFunctions* functions);

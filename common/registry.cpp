// A little longer than most files: every registry operation of the program, each in both views,
// behind the one override table and the plugged-in store.
#include "common/registry.h"

#include <string.h>
#include <winternl.h>
#include <wchar.h>

#include "common/diagnostics.h"
#include "common/system.h"
#include "common/text.h"

namespace {

// The one call that deletes a key through its handle rather than by a name, which the registry
// would resolve again (and through a link). ntdll is in every process already; taken by name,
// once, it adds no import to the executable.
LONG WINAPI DeleteKeyThroughHandle(HKEY key) {
    typedef NTSTATUS(NTAPI * DeleteKeyFn)(HANDLE);
    typedef ULONG(NTAPI * ErrorOfStatusFn)(NTSTATUS);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto deleteKey = ntdll ? GetExport<DeleteKeyFn>(ntdll, "NtDeleteKey") : nullptr;
    static const auto errorOf =
        ntdll ? GetExport<ErrorOfStatusFn>(ntdll, "RtlNtStatusToDosError") : nullptr;
    if (!deleteKey || !errorOf)
        return ERROR_CALL_NOT_IMPLEMENTED;
    NTSTATUS status = deleteKey(key);
    return status >= 0 ? ERROR_SUCCESS : LONG(errorOf(status));
}

const RegistryFunctions RealFunctions = {
    RegOpenKeyExW, RegCreateKeyExW, RegQueryValueExW, RegSetValueExW, RegDeleteValueW,
    RegDeleteKeyW, RegEnumKeyExW,   RegDeleteKeyExW,  RegEnumValueW,  DeleteKeyThroughHandle,
};

const RegistryFunctions* Calls = &RealFunctions;

RegistryStore* Store = nullptr;

// Whether a request through `root` that the store did not take may reach the registry.
bool RegistryReachable(const RegistryRoot& root) {
    return Store == nullptr || Store->LetsRequestsThrough(root.By);
}

} // namespace

HKEY SystemRoot(HKEY root) {
    return root == HKEY_CLASSES_ROOT ? HKEY_LOCAL_MACHINE : root;
}

namespace {

// RegDeleteKeyExW only where a view is named: the plain call is the one every Windows has.
LONG RemoveKey(RegistryRoot root, const wchar_t* resolved) {
    if (root.View == 0)
        return Calls->DeleteKey(SystemRoot(root.Root), resolved);
    return Calls->DeleteKeyEx(SystemRoot(root.Root), resolved, root.View, 0);
}

// Opens (root, resolved path) in the root's view; null when it cannot be opened, with the
// registry's answer in *error.
RegistryKey OpenResolved(RegistryRoot root, const wchar_t* resolved, REGSAM access, LONG* error,
                         DWORD options = 0) {
    HKEY key = nullptr;
    *error = Calls->OpenKey(SystemRoot(root.Root), resolved, options, root.View | access, &key);
    return *error == ERROR_SUCCESS ? RegistryKey(key, root.View) : RegistryKey();
}

// An empty path under HKEY_CLASSES_ROOT names the machine's classes as a whole, never a key of
// the program's.
bool NamesClassesRoot(RegistryRoot root, const wchar_t* path) {
    return root.Root == HKEY_CLASSES_ROOT &&
           (path == nullptr || path[path[0] == L'\\' ? 1 : 0] == 0);
}

bool IsNotFound(LONG error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Names the key as an administrator finds it in a registry editor, with the value and the view
// the call used.
void ReportRegistryFailure(const wchar_t* operation, RegistryRoot root, const wchar_t* path,
                           const wchar_t* valueName, LONG error) {
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        CopyText(resolved, L"(a path too long to show)");
    wchar_t value[RegistryValueNameCapacity + 16] = L"";
    if (valueName &&
        FormatText(value, RegistryValueNameCapacity + 16,
                   valueName[0] ? L", value \"%s\"" : L", default value%s", valueName) < 0)
        CopyText(value, L", a value", RegistryValueNameCapacity + 16);
    const wchar_t* view = root.View == KEY_WOW64_64KEY   ? L" (64-bit view)"
                          : root.View == KEY_WOW64_32KEY ? L" (32-bit view)"
                                                         : L"";
    const size_t capacity = RegistryPathCapacity + RegistryValueNameCapacity + 64;
    wchar_t target[capacity];
    if (FormatText(target, L"%s\\%s%s%s", RootName(SystemRoot(root.Root)), resolved, value, view) <
        0)
        CopyText(target, L"(a key too long to show)");
    ReportFailure(operation, target, DWORD(error));
}

// The registry itself allows no deeper tree; a walk that reaches this came from something else.
const unsigned MaxTreeDepth = 512;

// Removes the key `name` below `parent` and everything below it that this pass reaches. Each
// child is opened from its parent's handle by its name alone: a path built by joining names could
// outgrow its buffer on a deep tree, and a cut path names another key (the parent again, for
// ever). Each key is opened as itself, a link as the link (whose target is someone else's key,
// which a user may have chosen), and deleted through that handle. Children are deleted while the
// enumeration index keeps rising, so some are skipped; the caller runs passes until one deletes
// nothing. Returns what the removal of `name` itself gave (or its opening, when it could not be
// opened).
LONG DeletionPass(RegistryRoot parent, const wchar_t* name, unsigned depth, unsigned* deleted) {
    if (name[0] == 0 || depth > MaxTreeDepth)
        return ERROR_INVALID_PARAMETER; // never the root itself
    LONG error = ERROR_SUCCESS;
    RegistryKey key =
        OpenResolved(parent, name, KEY_ENUMERATE_SUB_KEYS | DELETE, &error, REG_OPTION_OPEN_LINK);
    if (!key)
        return error;
    for (DWORD index = 0;; index++) {
        wchar_t child[RegistryNameCapacity];
        DWORD size = RegistryNameCapacity;
        if (Calls->EnumKey(key.get(), index, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DeletionPass(InView(key.get(), key.view()), child, depth + 1, deleted);
    }
    error = Calls->DeleteOpenedKey(key.get());
    if (error == ERROR_SUCCESS)
        (*deleted)++;
    return error;
}

} // namespace

const wchar_t* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT)
        return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return L"HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return L"HKEY_LOCAL_MACHINE";
    return L"HKEY";
}

namespace {
// The registry half of a write, once the settings file has declined it.
LONG WriteValue(RegistryRoot root, const wchar_t* path, const wchar_t* name, DWORD type,
                const void* data, DWORD size) {
    if (!RegistryReachable(root))
        return ERROR_SUCCESS;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved)) {
        ReportRegistryFailure(L"create key", root, path, nullptr, ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    HKEY created = nullptr;
    DWORD disposition = 0;
    LONG error =
        Calls->CreateKey(SystemRoot(root.Root), resolved, 0, nullptr, REG_OPTION_NON_VOLATILE,
                         root.View | KEY_WRITE, nullptr, &created, &disposition);
    RegistryKey key(error == ERROR_SUCCESS ? created : nullptr, root.View);
    if (!key) {
        ReportRegistryFailure(L"create key", root, path, nullptr, error);
        return error;
    }
    error = Calls->SetValue(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (error != ERROR_SUCCESS) {
        ReportRegistryFailure(L"set value", root, path, name, error);
        // A key made for this value alone goes again: left empty, a later run would take it
        // for a key that was there before (another program's extension, say).
        key = RegistryKey();
        if (disposition == REG_CREATED_NEW_KEY)
            RemoveKey(root, resolved);
    }
    return error;
}
} // namespace

const RegistryFunctions& RealRegistryFunctions() {
    return RealFunctions;
}

void OverrideRegistryFunctions(const RegistryFunctions* functions) {
    Calls = functions ? functions : &RealFunctions;
}

bool ResolveKeyPath(RegistryRoot at, const wchar_t* path, wchar_t* resolved, size_t capacity) {
    HKEY root = at.Root;
    if (path == nullptr)
        path = L"";
    if ((root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE) && path[0] != L'\\')
        return FormatText(resolved, capacity, L"Software\\Bundlo%s%s", path[0] ? L"\\" : L"",
                          path) >= 0;
    if (path[0] == L'\\')
        path++;
    if (root == HKEY_CLASSES_ROOT)
        return FormatText(resolved, capacity, L"Software\\Classes%s%s", path[0] ? L"\\" : L"",
                          path) >= 0;
    return FormatText(resolved, capacity, L"%s", path) >= 0;
}

namespace {
// Opened in the root's view for reading values and listing sub-keys; null when the key cannot
// be opened, with the registry's answer in *error.
RegistryKey OpenKeyForRead(RegistryRoot root, const wchar_t* path, LONG* error) {
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return RegistryKey();
    }
    return OpenResolved(root, resolved, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, error);
}
} // namespace

void PlugInRegistryStore(RegistryStore* store) {
    Store = store;
}

REGSAM ProgramRegistryView(bool for64BitPrograms) {
    if (!Is64BitWindows())
        return 0;
    return for64BitPrograms ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

size_t AllProgramRegistryViews(REGSAM views[2]) {
    views[0] = ProgramRegistryView(false);
    if (views[0] == 0)
        return 1;
    views[1] = ProgramRegistryView(true);
    return 2;
}

KeyPresence FindKey(RegistryRoot root, const wchar_t* path) {
    bool exists = false;
    if (Store && Store->TestKey(root.Root, path, &exists))
        return exists ? KeyPresent : KeyMissing;
    if (!RegistryReachable(root))
        return KeyMissing;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return KeyUnknown;
    LONG error = ERROR_SUCCESS;
    if (!OpenResolved(root, resolved, KEY_QUERY_VALUE, &error))
        return IsNotFound(error) ? KeyMissing : KeyUnknown;
    return KeyPresent;
}

KeyContents FindKeyContents(RegistryRoot root, const wchar_t* path) {
    bool exists = false;
    if (Store && Store->TestKey(root.Root, path, &exists))
        return exists ? KeyFilled : KeyAbsent;
    if (!RegistryReachable(root))
        return KeyAbsent;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenKeyForRead(root, path, &error);
    if (!key)
        return IsNotFound(error) ? KeyAbsent : KeyContentsUnknown;
    wchar_t name[RegistryNameCapacity];
    DWORD size = RegistryNameCapacity;
    LONG found = Calls->EnumKey(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (found == ERROR_SUCCESS || found == ERROR_MORE_DATA)
        return KeyFilled;
    if (found != ERROR_NO_MORE_ITEMS)
        return KeyContentsUnknown;
    wchar_t valueName[RegistryValueNameCapacity];
    size = RegistryValueNameCapacity;
    found = Calls->EnumValue(key.get(), 0, valueName, &size, nullptr, nullptr, nullptr, nullptr);
    if (found == ERROR_SUCCESS || found == ERROR_MORE_DATA)
        return KeyFilled;
    return found == ERROR_NO_MORE_ITEMS ? KeyEmpty : KeyContentsUnknown;
}

bool KeyExists(RegistryRoot root, const wchar_t* path) {
    return FindKey(root, path) == KeyPresent;
}

DWORD GetDword(RegistryRoot root, const wchar_t* path, const wchar_t* name, DWORD fallback,
               ReadResult* result) {
    ReadResult ignored;
    if (!result)
        result = &ignored;
    *result = ReadDone;
    DWORD value = fallback;
    if (Store && Store->ReadNumber(root.Root, path, name, fallback, &value))
        return value;
    if (!RegistryReachable(root))
        return fallback;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenKeyForRead(root, path, &error);
    if (!key) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return fallback;
    }
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    error =
        Calls->QueryValue(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return fallback;
    }
    // A number is four bytes of REG_DWORD and nothing else: two bytes of binary data would fill
    // half of it over the default, and four bytes of text would read as a number.
    if (error == ERROR_MORE_DATA || type != REG_DWORD || size != sizeof value) {
        *result = ReadWrongType;
        ReportRegistryFailure(L"read a number (a value of another type)", root, path, name,
                              ERROR_DATATYPE_MISMATCH);
        return fallback;
    }
    return value;
}

bool GetString(RegistryRoot root, const wchar_t* path, const wchar_t* name, wchar_t* out,
               const wchar_t* fallback, size_t capacity, ReadResult* result) {
    ReadResult ignored;
    if (!result)
        result = &ignored;
    *result = ReadDone;
    if (capacity == 0) {
        *result = ReadTooLong;
        return false;
    }
    if (fallback == nullptr)
        fallback = L"";
    if (Store && Store->ReadText(root.Root, path, name, out, fallback, capacity))
        return true;
    CopyText(out, fallback, capacity);
    if (!RegistryReachable(root))
        return true;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenKeyForRead(root, path, &error);
    if (!key) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return false;
    }
    // The size is in bytes; a capacity beyond what a DWORD can say is simply not used.
    DWORD size = capacity > MAXDWORD / 2 ? MAXDWORD - 1 : DWORD(capacity * 2);
    error =
        Calls->QueryValue(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size);
    if (error != ERROR_SUCCESS) {
        CopyText(out, fallback, capacity);
        *result = error == ERROR_MORE_DATA ? ReadTooLong
                  : IsNotFound(error)      ? ReadMissing
                                           : ReadRefused;
        return false;
    }
    size_t end = size / 2;
    // Stored without its terminator, a text that fills the buffer has no room for one.
    if (end >= capacity && wmemchr(out, 0, capacity) == nullptr) {
        CopyText(out, fallback, capacity);
        *result = ReadTooLong;
        return false;
    }
    out[end < capacity - 1 ? end : capacity - 1] = 0;
    return true;
}

LONG SetString(RegistryRoot root, const wchar_t* path, const wchar_t* name, const wchar_t* text) {
    if (text == nullptr)
        text = L"";
    LONG taken = ERROR_SUCCESS;
    if (Store && Store->WriteText(root.Root, path, name, text, &taken))
        return taken;
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    if (bytes > MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    return WriteValue(root, path, name, REG_SZ, text, DWORD(bytes));
}

LONG SetDword(RegistryRoot root, const wchar_t* path, const wchar_t* name, DWORD value) {
    LONG taken = ERROR_SUCCESS;
    if (Store && Store->WriteNumber(root.Root, path, name, value, &taken))
        return taken;
    return WriteValue(root, path, name, REG_DWORD, &value, sizeof value);
}

bool DeleteValue(RegistryRoot root, const wchar_t* path, const wchar_t* name) {
    if ((Store && Store->DeleteValue(root.Root, path, name)) || !RegistryReachable(root))
        return true;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return false;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenResolved(root, resolved, KEY_SET_VALUE, &error);
    if (key)
        error = Calls->DeleteValue(key.get(), name);
    if (error == ERROR_SUCCESS || IsNotFound(error))
        return true;
    ReportRegistryFailure(L"delete value", root, path, name, error);
    return false;
}

KeyDeletion DeleteEmptyKey(RegistryRoot root, const wchar_t* path) {
    if ((Store && Store->DeleteKey(root.Root, path)) || !RegistryReachable(root))
        return KeyGone;
    if (NamesClassesRoot(root, path))
        return KeyRefused;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return KeyRefused;
    LONG error = RemoveKey(root, resolved);
    if (error == ERROR_SUCCESS || IsNotFound(error))
        return KeyGone;
    // Windows refuses a key with sub-keys as it refuses one without rights; only the second is
    // a failure.
    LONG opening = ERROR_SUCCESS;
    RegistryKey key = OpenResolved(root, resolved, KEY_ENUMERATE_SUB_KEYS, &opening);
    if (key) {
        wchar_t child[RegistryNameCapacity];
        DWORD size = RegistryNameCapacity;
        LONG found = Calls->EnumKey(key.get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_SUCCESS || found == ERROR_MORE_DATA)
            return KeyHasSubKeys;
    }
    ReportRegistryFailure(L"delete key", root, path, nullptr, error);
    return KeyRefused;
}

void DeleteKeyTree(RegistryRoot root, const wchar_t* path) {
    if ((Store && Store->DeleteKey(root.Root, path)) || !RegistryReachable(root) ||
        NamesClassesRoot(root, path))
        return;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return;
    unsigned deleted;
    LONG error;
    do {
        deleted = 0;
        error =
            DeletionPass(InView(SystemRoot(root.Root), root.View, root.By), resolved, 0, &deleted);
    } while (deleted > 0);
    if (error != ERROR_SUCCESS && !IsNotFound(error))
        ReportRegistryFailure(L"delete key tree", root, path, nullptr, error);
}

ValueReading ReadValueAt(RegistryRoot root, const wchar_t* path, DWORD index,
                         RegistryValue* value) {
    if (!RegistryReachable(root))
        return NoMoreValues;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenKeyForRead(root, path, &error);
    if (!key)
        return IsNotFound(error) ? NoMoreValues : ValueUnreadable;
    DWORD nameSize = RegistryValueNameCapacity;
    value->Size = RegistryValueDataCapacity;
    LONG result = Calls->EnumValue(key.get(), index, value->Name, &nameSize, nullptr, &value->Type,
                                   value->Data, &value->Size);
    if (result == ERROR_MORE_DATA)
        return ValueTooLarge;
    if (result == ERROR_NO_MORE_ITEMS)
        return NoMoreValues;
    return result == ERROR_SUCCESS ? ValueRead : ValueUnreadable;
}

TextReading ReadWholeText(RegistryRoot root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                          size_t capacity) {
    if (capacity == 0)
        return TextUnreadable;
    out[0] = 0;
    if (!RegistryReachable(root))
        return TextMissing;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenKeyForRead(root, path, &error);
    // Only the registry's own "not there" is a missing text; a refusal hides one.
    if (!key)
        return IsNotFound(error) ? TextMissing : TextRefused;
    DWORD type = REG_NONE;
    DWORD size = capacity > MAXDWORD / 2 ? MAXDWORD - 1 : DWORD(capacity * sizeof(wchar_t));
    error = Calls->QueryValue(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
    if (error != ERROR_SUCCESS) {
        out[0] = 0;
        if (error == ERROR_MORE_DATA)
            return TextUnreadable; // longer than the buffer
        return IsNotFound(error) ? TextMissing : TextRefused;
    }
    // Whole means written back as it was read: one text of type REG_SZ with its terminator and
    // no other zero. Another type, a text without its terminator, an odd size or a zero inside
    // would come back changed.
    size_t length = size / sizeof(wchar_t);
    if (type != REG_SZ || size % sizeof(wchar_t) != 0 || length == 0 || out[length - 1] != 0 ||
        wcslen(out) != length - 1) {
        out[0] = 0;
        return TextUnreadable;
    }
    return TextRead;
}

LONG SetTypedValue(RegistryRoot root, const wchar_t* path, const RegistryValue& value) {
    if (value.Size > RegistryValueDataCapacity)
        return ERROR_INVALID_PARAMETER;
    // Windows counts a text's terminator that its writer forgot: when the character after the
    // data is a zero and the last one is not, it stores one more. The bytes go from a copy that
    // has no zero there, so that a text kept without its terminator comes back without one.
    BYTE data[RegistryValueDataCapacity + sizeof(wchar_t)];
    memcpy(data, value.Data, value.Size);
    data[value.Size] = data[value.Size + 1] = 0xFF;
    return WriteValue(root, path, value.Name, value.Type, data, value.Size);
}

LONG ReadUserValueDirect(const wchar_t* path, const wchar_t* name, DWORD* type, void* data,
                         DWORD* bytes) {
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(HKEY_CURRENT_USER, path, resolved))
        return ERROR_FILENAME_EXCED_RANGE;
    LONG error = ERROR_SUCCESS;
    RegistryKey key = OpenResolved(HKEY_CURRENT_USER, resolved, KEY_QUERY_VALUE, &error);
    if (!key)
        return error;
    return Calls->QueryValue(key.get(), name, nullptr, type, static_cast<BYTE*>(data), bytes);
}

DWORD GetUserDword(const wchar_t* path, const wchar_t* name, DWORD fallback, ReadResult* result) {
    return GetDword(HKEY_CURRENT_USER, path, name, fallback, result);
}

bool GetUserString(const wchar_t* path, const wchar_t* name, wchar_t* out, const wchar_t* fallback,
                   size_t capacity, ReadResult* result) {
    return GetString(HKEY_CURRENT_USER, path, name, out, fallback, capacity, result);
}

LONG SetUserString(const wchar_t* path, const wchar_t* name, const wchar_t* text) {
    return SetString(HKEY_CURRENT_USER, path, name, text);
}

LONG SetUserDword(const wchar_t* path, const wchar_t* name, DWORD value) {
    return SetDword(HKEY_CURRENT_USER, path, name, value);
}

#include "common/registry.h"

#include <string.h>
#include <wchar.h>

#include "common/diagnostics.h"
#include "common/settings.h"
#include "common/system.h"
#include "common/text.h"

namespace {

const RegistryFunctions RealFunctions = {
    RegOpenKeyExW, RegCreateKeyExW, RegQueryValueExW, RegSetValueExW, RegDeleteValueW,
    RegDeleteKeyW, RegEnumKeyExW,   RegDeleteKeyExW,  RegEnumValueW,
};

const RegistryFunctions* Calls = &RealFunctions;

REGSAM ViewFlags = 0;

} // namespace

HKEY SystemRoot(HKEY root) {
    return root == HKEY_CLASSES_ROOT ? HKEY_LOCAL_MACHINE : root;
}

namespace {

// RegDeleteKeyExW only where a view is named: the plain call is the one every Windows has.
LONG RemoveKey(HKEY root, const wchar_t* resolved) {
    root = SystemRoot(root);
    if (ViewFlags == 0)
        return Calls->DeleteKey(root, resolved);
    return Calls->DeleteKeyEx(root, resolved, ViewFlags, 0);
}

// An empty path under HKEY_CLASSES_ROOT names the machine's classes as a whole, never a key of
// the program's.
bool NamesClassesRoot(HKEY root, const wchar_t* path) {
    return root == HKEY_CLASSES_ROOT && (path == nullptr || path[path[0] == L'\\' ? 1 : 0] == 0);
}

bool IsNotFound(LONG error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Names the key as an administrator finds it in a registry editor, with the value and the view
// the call used.
void ReportRegistryFailure(const wchar_t* operation, HKEY root, const wchar_t* path,
                           const wchar_t* valueName, LONG error) {
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        CopyText(resolved, L"(a path too long to show)");
    wchar_t value[RegistryValueNameCapacity + 16] = L"";
    if (valueName &&
        FormatText(value, RegistryValueNameCapacity + 16,
                   valueName[0] ? L", value \"%s\"" : L", default value%s", valueName) < 0)
        CopyText(value, L", a value", RegistryValueNameCapacity + 16);
    const wchar_t* view = ViewFlags == KEY_WOW64_64KEY   ? L" (64-bit view)"
                          : ViewFlags == KEY_WOW64_32KEY ? L" (32-bit view)"
                                                         : L"";
    const size_t capacity = RegistryPathCapacity + RegistryValueNameCapacity + 64;
    wchar_t target[capacity];
    if (FormatText(target, L"%s\\%s%s%s", RootName(SystemRoot(root)), resolved, value, view) < 0)
        CopyText(target, L"(a key too long to show)");
    ReportFailure(operation, target, DWORD(error));
}

// The registry itself allows no deeper tree; a walk that reaches this came from something else.
const unsigned MaxTreeDepth = 512;

// Removes the key `name` below `parent` and everything below it that this pass reaches. Each
// child is opened from its parent's handle by its name alone: a path built by joining names could
// outgrow its buffer on a deep tree, and a cut path names another key (the parent again, for
// ever). Children are deleted while the enumeration index keeps rising, so some are skipped; the
// caller runs passes until one deletes nothing.
// Returns what the removal of `name` itself gave (or its opening, when it could not be opened).
LONG DeletionPass(HKEY parent, const wchar_t* name, unsigned depth, unsigned* deleted) {
    if (name[0] == 0 || depth > MaxTreeDepth)
        return ERROR_INVALID_PARAMETER; // never the root itself
    HKEY opened = nullptr;
    LONG error = Calls->OpenKey(parent, name, 0, ViewFlags | KEY_READ, &opened);
    if (error != ERROR_SUCCESS)
        return error;
    {
        RegistryKey handle(opened);
        for (DWORD index = 0;; index++) {
            wchar_t child[RegistryNameCapacity];
            DWORD size = RegistryNameCapacity;
            if (Calls->EnumKey(handle.Get(), index, child, &size, nullptr, nullptr, nullptr,
                               nullptr) != ERROR_SUCCESS)
                break;
            DeletionPass(handle.Get(), child, depth + 1, deleted);
        }
    }
    error = RemoveKey(parent, name);
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
LONG WriteValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* data,
                DWORD size) {
    if (!IsIntegrationEnabled())
        return ERROR_SUCCESS;
    LONG error = ERROR_SUCCESS;
    DWORD disposition = 0;
    RegistryKey key(CreateKeyForWrite(root, path, &error, &disposition));
    if (!key) {
        ReportRegistryFailure(L"create key", root, path, nullptr, error);
        return error;
    }
    error = Calls->SetValue(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (error != ERROR_SUCCESS) {
        ReportRegistryFailure(L"set value", root, path, name, error);
        // A key made for this value alone goes again: left empty, a later run would take it
        // for a key that was there before (another program's extension, say).
        wchar_t resolved[RegistryPathCapacity];
        key.Reset(nullptr);
        if (disposition == REG_CREATED_NEW_KEY && ResolveKeyPath(root, path, resolved))
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

bool ResolveKeyPath(HKEY root, const wchar_t* path, wchar_t* resolved, size_t capacity) {
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

HKEY OpenKeyForRead(HKEY root, const wchar_t* path, LONG* error) {
    LONG ignored;
    if (!error)
        error = &ignored;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    HKEY key = nullptr;
    *error = Calls->OpenKey(SystemRoot(root), resolved, 0,
                            ViewFlags | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key);
    return *error == ERROR_SUCCESS ? key : nullptr;
}

HKEY CreateKeyForWrite(HKEY root, const wchar_t* path, LONG* error, DWORD* disposition) {
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    HKEY key = nullptr;
    DWORD made = 0;
    *error = Calls->CreateKey(SystemRoot(root), resolved, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              ViewFlags | KEY_WRITE, nullptr, &key, &made);
    if (disposition)
        *disposition = made;
    return *error == ERROR_SUCCESS ? key : nullptr;
}

bool CloseKey(HKEY key) {
    return key != nullptr && RegCloseKey(key) == ERROR_SUCCESS;
}

ScopedRegistryView::ScopedRegistryView(REGSAM view) : Previous(ViewFlags) {
    ViewFlags = view;
}

ScopedRegistryView::~ScopedRegistryView() {
    ViewFlags = Previous;
}

REGSAM GetRegistryView() {
    return ViewFlags;
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

KeyPresence FindKey(HKEY root, const wchar_t* path) {
    bool exists = false;
    if (OfferKeyTest(root, path, &exists))
        return exists ? KeyPresent : KeyMissing;
    if (!IsIntegrationEnabled())
        return KeyMissing;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return KeyUnknown;
    HKEY key = nullptr;
    LONG error = Calls->OpenKey(SystemRoot(root), resolved, 0, ViewFlags | KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return IsNotFound(error) ? KeyMissing : KeyUnknown;
    RegCloseKey(key);
    return KeyPresent;
}

bool KeyExists(HKEY root, const wchar_t* path) {
    return FindKey(root, path) == KeyPresent;
}

DWORD GetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD fallback,
               ReadResult* result) {
    ReadResult ignored;
    if (!result)
        result = &ignored;
    *result = ReadDone;
    DWORD value = fallback;
    if (OfferNumberRead(root, path, name, fallback, &value))
        return value;
    if (!IsIntegrationEnabled())
        return fallback;
    LONG error = ERROR_SUCCESS;
    RegistryKey key(OpenKeyForRead(root, path, &error));
    if (!key) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return fallback;
    }
    // The value's type plays no part: any four bytes read as a number.
    value = fallback;
    DWORD size = sizeof value;
    error = Calls->QueryValue(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                              &size);
    if (error != ERROR_SUCCESS) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return fallback;
    }
    return size == 0 ? fallback : value;
}

bool GetString(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* out,
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
    if (OfferTextRead(root, path, name, out, fallback, capacity))
        return true;
    CopyText(out, fallback, capacity);
    if (!IsIntegrationEnabled())
        return true;
    LONG error = ERROR_SUCCESS;
    RegistryKey key(OpenKeyForRead(root, path, &error));
    if (!key) {
        *result = IsNotFound(error) ? ReadMissing : ReadRefused;
        return false;
    }
    // The size is in bytes; a capacity beyond what a DWORD can say is simply not used.
    DWORD size = capacity > MAXDWORD / 2 ? MAXDWORD - 1 : DWORD(capacity * 2);
    error =
        Calls->QueryValue(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size);
    if (error != ERROR_SUCCESS) {
        CopyText(out, fallback, capacity);
        *result = error == ERROR_MORE_DATA ? ReadTooLong
                  : IsNotFound(error)      ? ReadMissing
                                           : ReadRefused;
        return false;
    }
    size_t end = size / 2;
    out[end < capacity - 1 ? end : capacity - 1] = 0;
    return true;
}

LONG SetString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text) {
    if (text == nullptr)
        text = L"";
    LONG taken = ERROR_SUCCESS;
    if (OfferTextWrite(root, path, name, text, &taken))
        return taken;
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    if (bytes > MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    return WriteValue(root, path, name, REG_SZ, text, DWORD(bytes));
}

LONG SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
    LONG taken = ERROR_SUCCESS;
    if (OfferNumberWrite(root, path, name, value, &taken))
        return taken;
    return WriteValue(root, path, name, REG_DWORD, &value, sizeof value);
}

bool DeleteValue(HKEY root, const wchar_t* path, const wchar_t* name) {
    if (OfferValueDeletion(root, path, name) || !IsIntegrationEnabled())
        return true;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return false;
    HKEY opened = nullptr;
    LONG error = Calls->OpenKey(SystemRoot(root), resolved, 0, ViewFlags | KEY_SET_VALUE, &opened);
    if (error == ERROR_SUCCESS) {
        RegistryKey key(opened);
        error = Calls->DeleteValue(key.Get(), name);
    }
    if (error == ERROR_SUCCESS || IsNotFound(error))
        return true;
    ReportRegistryFailure(L"delete value", root, path, name, error);
    return false;
}

KeyDeletion DeleteEmptyKey(HKEY root, const wchar_t* path) {
    if (OfferKeyDeletion(root, path) || !IsIntegrationEnabled())
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
    HKEY opened = nullptr;
    if (Calls->OpenKey(SystemRoot(root), resolved, 0, ViewFlags | KEY_ENUMERATE_SUB_KEYS,
                       &opened) == ERROR_SUCCESS) {
        RegistryKey key(opened);
        wchar_t child[RegistryNameCapacity];
        DWORD size = RegistryNameCapacity;
        LONG found = Calls->EnumKey(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_SUCCESS || found == ERROR_MORE_DATA)
            return KeyHasSubKeys;
    }
    ReportRegistryFailure(L"delete key", root, path, nullptr, error);
    return KeyRefused;
}

void DeleteKeyTree(HKEY root, const wchar_t* path) {
    if (OfferKeyDeletion(root, path) || !IsIntegrationEnabled() || NamesClassesRoot(root, path))
        return;
    wchar_t resolved[RegistryPathCapacity];
    if (!ResolveKeyPath(root, path, resolved))
        return;
    unsigned deleted;
    LONG error;
    do {
        deleted = 0;
        error = DeletionPass(SystemRoot(root), resolved, 0, &deleted);
    } while (deleted > 0);
    if (error != ERROR_SUCCESS && !IsNotFound(error))
        ReportRegistryFailure(L"delete key tree", root, path, nullptr, error);
}

ValueReading ReadValueAt(HKEY root, const wchar_t* path, DWORD index, RegistryValue* value) {
    if (!IsIntegrationEnabled())
        return NoMoreValues;
    LONG error = ERROR_SUCCESS;
    RegistryKey key(OpenKeyForRead(root, path, &error));
    if (!key)
        return IsNotFound(error) ? NoMoreValues : ValueUnreadable;
    DWORD nameSize = RegistryValueNameCapacity;
    value->Size = RegistryValueDataCapacity;
    LONG result = Calls->EnumValue(key.Get(), index, value->Name, &nameSize, nullptr, &value->Type,
                                   value->Data, &value->Size);
    if (result == ERROR_MORE_DATA)
        return ValueTooLarge;
    if (result == ERROR_NO_MORE_ITEMS)
        return NoMoreValues;
    return result == ERROR_SUCCESS ? ValueRead : ValueUnreadable;
}

TextReading ReadWholeText(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                          size_t capacity) {
    if (capacity == 0)
        return TextUnreadable;
    out[0] = 0;
    if (!IsIntegrationEnabled())
        return TextMissing;
    LONG error = ERROR_SUCCESS;
    RegistryKey key(OpenKeyForRead(root, path, &error));
    // Only the registry's own "not there" is a missing text; a refusal hides one.
    if (!key)
        return IsNotFound(error) ? TextMissing : TextRefused;
    DWORD type = REG_NONE;
    DWORD size = capacity > MAXDWORD / 2 ? MAXDWORD - 1 : DWORD(capacity * sizeof(wchar_t));
    error = Calls->QueryValue(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
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

LONG SetTypedValue(HKEY root, const wchar_t* path, const RegistryValue& value) {
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
    HKEY opened = nullptr;
    LONG error = Calls->OpenKey(HKEY_CURRENT_USER, resolved, 0, KEY_QUERY_VALUE, &opened);
    if (error != ERROR_SUCCESS)
        return error;
    RegistryKey key(opened);
    return Calls->QueryValue(key.Get(), name, nullptr, type, static_cast<BYTE*>(data), bytes);
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

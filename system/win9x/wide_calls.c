/*
 * The three wide-character kernel32 calls the MinGW-w64 runtime makes, served
 * by their ANSI twins, so that the 32-bit programs and the library import none
 * of them: the Windows 9x family has them only as stubs that fail.
 *
 * - libgcc's thread support (exception frames, static locals) creates its
 *   mutexes' semaphores with CreateSemaphoreW(..., NULL): on Windows 98 that
 *   would fail, and a contended lock would then not wait.
 * - The C runtime's helpers look msvcrt.dll and advapi32.dll up with
 *   GetModuleHandleW and LoadLibraryW; they fall back when that fails, but
 *   then differ from what they do on NT.
 *
 * The runtime calls them through their import slots (__imp__NAME@N); defining
 * those slots here, in an object the link always includes, fills them with
 * these functions instead of the DLL's. The names they pass are ASCII
 * constants; anything else is refused as an invalid name.
 */
#include <windows.h>

static BOOL narrow_ascii(LPCWSTR wide, char* out, size_t size) {
    size_t i = 0;
    for (; wide[i] != 0; ++i) {
        if (wide[i] > 0x7F || i + 1 >= size) return FALSE;
        out[i] = (char)wide[i];
    }
    out[i] = 0;
    return TRUE;
}

static HANDLE WINAPI create_semaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == NULL) return CreateSemaphoreA(attributes, initial, maximum, NULL);
    if (!narrow_ascii(name, narrow, sizeof narrow)) {
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    return CreateSemaphoreA(attributes, initial, maximum, narrow);
}

static HMODULE WINAPI get_module_handle(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == NULL) return GetModuleHandleA(NULL);
    if (!narrow_ascii(name, narrow, sizeof narrow)) {
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    return GetModuleHandleA(narrow);
}

static HMODULE WINAPI load_library(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == NULL || !narrow_ascii(name, narrow, sizeof narrow)) {
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    return LoadLibraryA(narrow);
}

HANDLE(WINAPI* const fwup_imp_create_semaphore)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) __asm__(
    "__imp__CreateSemaphoreW@16") = create_semaphore;
HMODULE(WINAPI* const fwup_imp_get_module_handle)(LPCWSTR) __asm__("__imp__GetModuleHandleW@4") = get_module_handle;
HMODULE(WINAPI* const fwup_imp_load_library)(LPCWSTR) __asm__("__imp__LoadLibraryW@4") = load_library;

// The setup's check of its own file. A setup travels through mirrors,
// proxies, USB sticks and download managers that resume badly; one that
// arrives damaged must say so instead of installing what it carries. The
// sum is the image checksum that the PE header already holds, written by
// the build and kept right by signing.
#include "setup.h"
#include "checksum.h"
#include "texts.h"

#include <stddef.h>

// The reader's offsets are the system's own structures' offsets.
static_assert(offsetof(IMAGE_DOS_HEADER, e_lfanew) == PE_SIGNATURE_POINTER, "e_lfanew");
static_assert(offsetof(IMAGE_NT_HEADERS32, FileHeader) == PE_FILE_HEADER_OFFSET, "file header");
static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader) == PE_OPTIONAL_HEADER_OFFSET,
              "PE32 optional header");
static_assert(offsetof(IMAGE_NT_HEADERS64, OptionalHeader) == PE_OPTIONAL_HEADER_OFFSET,
              "PE32+ optional header");
static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum) == PE_OPTIONAL_CHECKSUM, "PE32 CheckSum");
static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum) == PE_OPTIONAL_CHECKSUM,
              "PE32+ CheckSum");

// The file is read in pieces of this size into one buffer, as any program
// reads a file, and summed there while the piece is in the processor's
// cache. Reading a fresh mapping of the file instead costs several times
// the system's own copy wherever touching a new page is dear, as in a
// virtual machine.
static const DWORD PIECE_SIZE = SCRATCH_SIZE;
unsigned char g_scratch[SCRATCH_SIZE];

// After CHECK_WINDOW_AFTER_MS the check shows that it is at work: a large
// setup read from a slow disk can take many seconds, and a screen without
// a sign of it meanwhile looks like a setup that never started.
static const int PROGRESS_WIDTH = 420;
static const int PROGRESS_HEIGHT = 80;

// The small window that says how far the check has got, made the first
// time it is needed, in the middle of the screen. A popup with a frame and
// no caption: an overlapped window placed by the system would take its
// showing from an argument this call has no use for, and stay hidden.
// Halved by a shift: a screen narrower than the window may round either way.
static HWND ShowCheckProgress(HWND window, uint32_t done, uint32_t length)
{
    if (!window)
        window = CreateWindowExA(0, "STATIC", 0,
                                 WS_POPUP | WS_DLGFRAME | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE,
                                 (GetSystemMetrics(SM_CXSCREEN) - PROGRESS_WIDTH) >> 1,
                                 (GetSystemMetrics(SM_CYSCREEN) - PROGRESS_HEIGHT) >> 1,
                                 PROGRESS_WIDTH, PROGRESS_HEIGHT, 0, 0, 0, 0);
    // Room for the text with the longest number there is: 11 characters
    // in place of the 2 of %i, 1 in place of the 2 of %%. A buffer of
    // MESSAGE_SIZE would only make the frame dearer to set up.
    char text[sizeof TEXT_CHECKING_SETUP + 8];
    wsprintfA(text, TEXT_CHECKING_SETUP, (int)AddProgressShare(0, done, length));
    SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text);
    UpdateWindow(window);
    KeepResponsive();
    return window;
}

bool VerifyImageFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD started = GetTickCount();
    const uint32_t length = GetFileSize(file, 0);
    HWND progress = 0;
    uint32_t stored = 0, field, done = 0, sum = 0;
    DWORD got;
    unsigned char* piece = g_scratch;
    HOLD_ADDRESS(piece);
    while (ReadFile(file, piece, PIECE_SIZE, &got, 0) && got > 0) {
        // The headers lie in the first piece. The CheckSum field is read
        // there and zeroed, which is how the sum counts it. Without one,
        // stored stays 0, which no file passes with.
        if (done == 0 && FindChecksumField(piece, got, &field)) {
            stored = ReadUint32(piece + field);
            WriteUint32(piece + field, 0);
        }
        sum = AddChecksumBytes(sum, piece, got, done);
        done += got;
        if (progress || GetTickCount() - started >= CHECK_WINDOW_AFTER_MS)
            progress = ShowCheckProgress(progress, done, length);
    }
    // A closed window without a procedure of its own is destroyed.
    if (progress)
        SendMessageA(progress, WM_CLOSE, 0, 0);
    CloseHandle(file);
    // A sum of 0 means the build never set one: nothing vouches for the
    // file. A file that did not read to its end, whether a read failed or
    // came short, is not the file checked.
    return done == length && stored != 0 && FinishChecksum(sum, done) == stored;
}

bool VerifyOwnFile()
{
    // The wide form and the longest path there is: a folder name outside
    // the ANSI code page, or a deep one, must not make a good file look
    // damaged. Far too large for a stack frame, it lies in the scratch
    // buffer, whose first piece the file's bytes replace once it is open.
    static_assert(SCRATCH_SIZE >= 32768 * sizeof(wchar_t), "room for the longest path");
    wchar_t* path = (wchar_t*)g_scratch;
    HOLD_ADDRESS(path);
    const DWORD capacity = 32768;
    DWORD length = GetModuleFileNameW(0, path, capacity);
    return length > 0 && length < capacity && VerifyImageFile(path);
}

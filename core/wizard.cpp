// Start-up, the page loop and the behaviour every page shares.
#include "setup.h"
#include "running.h"
#include "safeload.h"
#include "texts.h"

#include <commctrl.h>
#include <stddef.h>

// COMCTL32 is no KnownDLL: it is loaded by its full system-folder path, and
// its initialisation export (ordinal 17) registers the progress bar class.
// It must be in before anything of the shell's asks for it by name (the
// folder picker does), so that the copy from the system folder is the one
// found already loaded. Loading it again only counts up its references.
void LoadCommonControls()
{
    char path[PATH_SIZE];
    UINT length = GetSystemDirectoryA(path, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE || !JoinPath(path, path, "comctl32.dll"))
        return;
    HMODULE comctl = LoadLibraryA(path);
    if (!comctl)
        return;
    SYSTEM_FUNCTION(InitCommonControls) init =
        (SYSTEM_FUNCTION(InitCommonControls))FindExport(comctl, MAKEINTRESOURCEA(17));
    if (init)
        init();
}

// The package's values, into the record that setup points at: the start-up
// holds that address in a register, where each field is a short offset away.
static void ReadPackageValues(SetupState* setup)
{
    uint32_t size, offset = 0;
    const unsigned char* data = LockDataResource(IDR_SETUP_STRINGS, &size);
    // The five copied strings' buffers follow each other in the record.
    static_assert(offsetof(SetupState, runTarget) - offsetof(SetupState, startupTarget) ==
                      4 * PATH_SIZE, "the setup strings' buffers are consecutive");
    // A string missing or cut short in a damaged resource comes out empty,
    // and so does every one after it, as ReadSetupStrings has it: the
    // reader stays where it failed, and a null piece copies as "".
    char* copy = setup->startupTarget;
    for (int i = 0; i < 5; ++i, copy += PATH_SIZE)
        CopyString(copy, NextString(data, size, &offset));
    const char* name = NextString(data, size, &offset);

    // The group's shortcuts: as many pairs as the list says and holds.
    data = LockDataResource(IDR_GROUP_LINKS, &size);
    uint32_t count = 0, found = 0;
    offset = 4;
    ReadLinkCount(data, size, &count);
    // A pair cut short ends the list: where it ends, the offset no longer
    // matters.
    while (found < count && NextString(data, size, &offset) && NextString(data, size, &offset))
        ++found;
    setup->groupLinkCount = (int)found;
    setup->groupLinks = (const char*)data + 4;

    data = LockDataResource(IDR_PAYLOAD, &size);
    ReadArchiveHeader(data, size, &setup->payloadTotal, &count);

    // The two names the resources may lack are "" then, as ReadDisplayName
    // has it, through one address of the empty text.
    data = LockDataResource(IDR_DISPLAY_NAME, &size);
    offset = 0;
    const char* display = NextString(data, size, &offset);
    const char* empty = "";
    HOLD_ADDRESS(empty);
    setup->uninstallerName = name ? name : empty;
    setup->displayName = display ? display : empty;
}

void LoadSetupStrings()
{
    ReadPackageValues(&g_setup);
}

// The page's index counts in halves, as its steps do.
static void RunPages(SetupState* setup)
{
    unsigned index = 0;
    while (index < 2 * PAGE_COUNT) {
        const int templateId = IDD_WELCOME + (int)(index / 2);
        // The copying page's progress bar is the first common control the
        // pages show; loading the library then keeps it out of the first
        // page's start.
        if (templateId == IDD_COPYING)
            LoadCommonControls();
        int result = (int)DialogBoxParamA(setup->instance, MAKEINTRESOURCEA(templateId), 0,
                                          PageTable[index / 2], 0);
        // DialogBoxParamA's answer for a dialog it could not make, and no
        // page's step.
        if (result == -1) {
            ShowCannot(0, MB_OK | MB_SETFOREGROUND, TEXT_SHOW_PAGE, 0);
            setup->exitCode = EXIT_NO_PAGE;
            return;
        }
        // A page ends with PAGE_BACK, PAGE_EXIT or PAGE_NEXT: the step to
        // take, or none.
        if (result == PAGE_EXIT)
            return;
        index += result;
    }
}

// One setup or uninstaller at a time: a second one says so, brings the
// first one's page to the front where it finds it, and ends having made
// nothing. The object is only asked for, never owned: while a handle to it
// is open it exists, and the system closes the handle when this process
// ends, however it ends.
LATE_CODE __attribute__((noinline)) static bool AnotherRuns()
{
    HANDLE running = CreateMutexA(0, FALSE, RUNNING_OBJECT_NAME);
    if (LastError() != ERROR_ALREADY_EXISTS)
        return false;
    // Not held while the box waits: a third one started after the first
    // has ended must not find this one's handle.
    CloseHandle(running);
    ShowError(0, TEXT_ALREADY_RUNNING, MB_OK);
    // The running setup's page: a top-level dialog (the class #32770)
    // that holds the frame.
    for (HWND window = 0; (window = FindWindowExA(0, window, MAKEINTATOM(32770), 0));)
        if (GetDlgItem(window, IDC_FRAME)) {
            SetForegroundWindow(window);
            break;
        }
    return true;
}

int RunWizard(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    if (AnotherRuns())
        return EXIT_ALREADY_RUNNING;
    InitialiseSetupState(instance);
    // Before anything is shown or written: a damaged file installs nothing.
    if (!VerifyOwnFile()) {
        ShowError(0, TEXT_DAMAGED_SETUP, MB_OK | MB_SETFOREGROUND);
        return EXIT_DAMAGED;
    }
    SetupState* setup = &g_setup;
    HOLD_ADDRESS(setup);
    ReadPackageValues(setup);
    RunPages(setup);
    int code = setup->exitCode;
    if (!code && setup->missingCount)
        code = EXIT_INCOMPLETE;
    return code;
}

void KeepResponsive()
{
    // Looking at the queue is what the system counts as responding; with
    // PM_NOREMOVE nothing posted (a click, a key) is taken or dispatched.
    MSG message;
    PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE);
}

int ConfirmExit(HWND page)
{
    return ShowMessage(page, TEXT_EXIT_QUESTION, TEXT_EXIT_CAPTION, MB_YESNO) == IDYES;
}

INT_PTR HandleCommonPageMessage(HWND page, UINT message, WPARAM wParam)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_CLOSE) {
        if (ConfirmExit(page))
            EndDialog(page, PAGE_EXIT);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDC_CANCEL) {
        SendMessageA(page, WM_CLOSE, 0, 0);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDC_BACK) {
        EndDialog(page, PAGE_BACK);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDC_NEXT) {
        EndDialog(page, PAGE_NEXT);
    } else {
        return FALSE;
    }
    return TRUE;
}

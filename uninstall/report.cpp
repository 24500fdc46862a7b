// What the uninstaller asks and tells: the question before the removal, the
// one about a file in use, and the report at the end, as a box and, with
// /report:FILE, as a file (Windows-1251, CR LF): one line per item left
// behind, then one per item the next restart deletes, then one per item the
// log names that is not this installation's; an empty file when everything
// was removed. The file is written last, so its presence means the
// uninstaller has finished.
#include "uninst.h"

#include "../core/running.h"
#include "../resources/ids.h"

static const int LIST_SIZE = 8192;

static const char RESTART_NOTE[] = " (удаление при перезагрузке)";
static const char FOREIGN_NOTE[] = " (не относится к этой установке)";

// One line per item, CR LF after each; a list that outgrows its buffer ends
// in "...".
struct ItemList {
    char text[LIST_SIZE];
    int length;
    bool cut;
};

static ItemList s_leftovers, s_atRestart, s_anothers, s_foreign;
static bool s_quiet, s_keptForNextRun;
static char s_reportPath[MAX_PATH];

void SetQuiet(bool quiet) { s_quiet = quiet; }
void SetReportPath(const char* path) { lstrcpynA(s_reportPath, path, MAX_PATH); }
void KeepForNextRun() { s_keptForNextRun = true; }
bool IsKeptForNextRun() { return s_keptForNextRun; }

// True when the list already holds the line item + note: an item named
// twice is named once.
static bool IsListed(const ItemList& list, const char* item, const char* note)
{
    char line[2 * VALUE_SIZE + 64];
    if (lstrlenA(item) + lstrlenA(note) >= (int)sizeof line) return false;
    wsprintfA(line, "%s%s", item, note);
    int length = lstrlenA(line);
    for (const char* p = list.text; *p;) {
        const char* end = p;
        while (*end && *end != '\r') ++end;
        if (end - p == length &&
            CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, p, length, line, length) == CSTR_EQUAL)
            return true;
        p = *end ? end + 2 : end;
    }
    return false;
}

static void AddItem(ItemList& list, const char* item, const char* note)
{
    if (IsListed(list, item, note)) return;
    int length = lstrlenA(item) + lstrlenA(note) + 2;
    if (list.cut || list.length + length + 8 >= LIST_SIZE) {
        if (!list.cut) lstrcatA(list.text, "...\r\n");
        list.cut = true;
        return;
    }
    lstrcatA(list.text, item);
    lstrcatA(list.text, note);
    lstrcatA(list.text, "\r\n");
    list.length += length;
}

void AddLeftover(const char* item, const char* note) { AddItem(s_leftovers, item, note); }
void AddRestartItem(const char* item) { AddItem(s_atRestart, item, ""); }
bool IsRestartItem(const char* item) { return IsListed(s_atRestart, item, ""); }
void AddForeign(const char* item) { AddItem(s_foreign, item, ""); }

void AddAnothers(const char* item)
{
    char plain[MAX_PATH];
    if (NormalizePath(item, plain)) AddItem(s_anothers, plain, "");
}

bool HoldsAnothers(const char* folder)
{
    for (const char* p = s_anothers.text; *p;) {
        char item[MAX_PATH];
        const char* end = p;
        while (*end && *end != '\r') ++end;
        if (end - p < MAX_PATH) {
            lstrcpynA(item, p, (int)(end - p) + 1);
            if (IsBelow(folder, item)) return true;
        }
        p = *end ? end + 2 : end;
    }
    return false;
}

static void WriteText(HANDLE file, const char* text, int length)
{
    DWORD written;
    WriteFile(file, text, (DWORD)length, &written, NULL);
}

// Each line of the list with note behind it.
static void WriteNoted(HANDLE file, const ItemList& list, const char* note)
{
    for (const char* line = list.text; *line;) {
        const char* end = line;
        while (*end && *end != '\r') ++end;
        WriteText(file, line, (int)(end - line));
        WriteText(file, note, lstrlenA(note));
        WriteText(file, "\r\n", 2);
        line = *end ? end + 2 : end;
    }
}

static void WriteReport()
{
    if (!s_reportPath[0]) return;
    HANDLE file = CreateFileA(s_reportPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteNoted(file, s_leftovers, "");
    WriteNoted(file, s_atRestart, RESTART_NOTE);
    WriteNoted(file, s_foreign, FOREIGN_NOTE);
    CloseHandle(file);
}

static int ShowBox(const char* text, UINT type)
{
    return s_quiet ? 0 : MessageBoxA(NULL, text, CAPTION, type | MB_SETFOREGROUND);
}

bool AskToRemove(const char* programName)
{
    char question[MAX_PATH + 100];
    wsprintfA(question, "Удалить программу %s и все её компоненты?", programName);
    return s_quiet || ShowBox(question, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool AskToCloseProgram(const char* path)
{
    char text[MAX_PATH + 200];
    wsprintfA(text, "Файл используется другой программой:\n%s\n\n"
                    "Закройте эту программу и повторите попытку.", path);
    return !s_quiet && ShowBox(text, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

int ReportMissingLog(const char* folder)
{
    char text[2 * MAX_PATH + 200];
    wsprintfA(text, "Не найден журнал установки:\n%s\\setup.log\n\nУдаление невозможно.", folder);
    AddLeftover(folder);
    ShowBox(text, MB_OK | MB_ICONERROR);
    WriteReport();
    return 2;
}

int ReportResult(const char* programName)
{
    char done[MAX_PATH + 100];
    wsprintfA(done, "Программа %s удалена с компьютера.", programName);
    if (!s_leftovers.text[0] && !s_atRestart.text[0] && !s_foreign.text[0]) {
        ShowBox(done, MB_OK | MB_ICONINFORMATION);
        WriteReport();
        return 0;
    }
    // wsprintfA stops at 1024 characters; the lists can be longer.
    static char text[3 * LIST_SIZE + 1024];
    text[0] = 0;
    if (s_keptForNextRun) {
        lstrcatA(text, "Удаление не завершено: следующие объекты удалить не удалось:\n\n");
        lstrcatA(text, s_leftovers.text);
        lstrcatA(text, "\nЗакройте программу, которая использует эти файлы, и запустите "
                       "удаление ещё раз.");
    } else if (s_leftovers.text[0]) {
        lstrcatA(text, "Удаление завершено, но следующие объекты удалить не удалось:\n\n");
        lstrcatA(text, s_leftovers.text);
        lstrcatA(text, "\nУдалите их вручную.");
    }
    if (s_atRestart.text[0]) {
        lstrcatA(text, text[0] ? "\n\n" : "Удаление завершено. ");
        lstrcatA(text, "Файлы, которые используются другой программой, и их папки будут "
                       "удалены при следующей перезагрузке компьютера:\n\n");
        lstrcatA(text, s_atRestart.text);
    }
    if (s_foreign.text[0]) {
        if (!text[0]) lstrcatA(text, done);
        lstrcatA(text, "\n\n");
        lstrcatA(text, "Журнал установки был изменён: он называет объекты, которые не относятся "
                       "к этой установке. Они оставлены без изменений:\n\n");
        lstrcatA(text, s_foreign.text);
    }
    ShowBox(text, MB_OK | MB_ICONWARNING);
    WriteReport();
    return s_leftovers.text[0] || s_foreign.text[0] ? 1 : 3;
}

// A page of a running setup holds the page frame; a box of a running
// uninstaller has the uninstaller's caption.
static BOOL CALLBACK FindRunningWindow(HWND window, LPARAM found)
{
    char name[16], caption[64];
    if (!IsWindowVisible(window) || !GetClassNameA(window, name, sizeof name) || lstrcmpA(name, "#32770") != 0)
        return TRUE;
    GetWindowTextA(window, caption, sizeof caption);
    if (!GetDlgItem(window, IDC_FRAME) && lstrcmpA(caption, CAPTION) != 0) return TRUE;
    *(HWND*)found = window;
    return FALSE;
}

int ReportAlreadyRunning()
{
    ShowBox(TEXT_ALREADY_RUNNING, MB_OK | MB_ICONWARNING);
    HWND running = NULL;
    EnumWindows(FindRunningWindow, (LPARAM)&running);
    // A box the running one shows is in front of the window that owns it.
    if (running) SetForegroundWindow(GetLastActivePopup(running));
    return EXIT_ALREADY_RUNNING;
}

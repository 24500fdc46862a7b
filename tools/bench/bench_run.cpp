#include "bench_run.h"

#include <commctrl.h>
#include <psapi.h>

#include <cstring>

#include "core/package.h"
#include "tools/pe/pe_image.h"
#include "resources/ids.h"
#include "tests/driver/uidriver.h"

namespace bench {

const wchar_t WELCOME[] = L"Добро пожаловать";
const wchar_t FINISH[] = L"Завершение установки";

namespace {

const wchar_t AGREEMENT[] = L"Лицензионное соглашение";
const wchar_t DESTINATION[] = L"Выбор каталога для установки";
const wchar_t GROUP[] = L"Выбор группы программ";
// The copying page is titled "Setup" until the sequence names its step.
const std::vector<std::wstring> COPYING = {L"Setup", L"Копирование файлов ...",
                                           L"Создание ярлыков ..."};

const int SETTLE_MS = 300;
// In a virtual machine, memory the system freed a second or more ago may
// have gone back to the host, and a 400 MB write into the file cache that
// must take it afresh runs several times slower than one that finds the
// memory just freed by deleting the last run's files. Every timed copy
// starts this long after its folder was emptied, so that the setup and its
// yardsticks start alike.
const int QUIET_MS = 3000;
const int TITLE_READS = 1000;

struct Search {
    DWORD processId;
    const std::vector<std::wstring>* captions;
    bool visibleOnly;
    HWND found;
};

std::wstring TitleOf(HWND window)
{
    wchar_t title[128];
    int length = InternalGetWindowText(window, title, 128);
    return std::wstring(title, length > 0 ? length : 0);
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    Search* search = (Search*)data;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    const std::wstring title = TitleOf(window);
    for (const std::wstring& caption : *search->captions)
        if (title == caption) {
            search->found = window;
            return FALSE;
        }
    return TRUE;
}

// Progress answers arrive through SendMessageCallback while this process
// pumps; a run number tells a late answer from an earlier run apart.
unsigned g_run = 0;
std::vector<int>* g_progress = nullptr;
bool g_asking = false;

VOID CALLBACK ProgressAnswered(HWND bar, UINT, ULONG_PTR run, LRESULT position)
{
    if (run != g_run || !g_progress)
        return;
    g_asking = false;
    // A question still open when the page closes is answered with 0.
    if (IsWindow(bar))
        g_progress->push_back((int)position);
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

std::wstring Describe(const std::wstring& what, const std::wstring& exe)
{
    return what + L" (" + exe + L")";
}

bool ReadAt(HANDLE file, uint64_t offset, DWORD size, std::vector<unsigned char>* out)
{
    out->assign(size, 0);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ::ReadFile(file, out->data(), size, &got, nullptr) && got == size;
}

bool MakeEmptyFolder(const std::wstring& folder);

}  // namespace

void WarmFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::vector<unsigned char> buffer(1 << 20);
    DWORD got = 0;
    while (::ReadFile(file, buffer.data(), (DWORD)buffer.size(), &got, nullptr) && got > 0) {
    }
    CloseHandle(file);
}

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

HWND FindProcessWindow(DWORD processId, const std::vector<std::wstring>& captions,
                       bool visibleOnly)
{
    Search search = {processId, &captions, visibleOnly, nullptr};
    EnumWindows(MatchWindow, (LPARAM)&search);
    return search.found;
}

uint64_t PrivateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return 0;
    return counters.PeakPagefileUsage > counters.PagefileUsage ? counters.PeakPagefileUsage
                                                               : counters.PagefileUsage;
}

bool TimeFirstPage(const std::wstring& exe, int timeoutMs, double* ms, std::wstring* error)
{
    ui::Launch launch;
    launch.program = exe;
    ui::Process process;
    double start = NowMs();
    if (!ui::Start(launch, &process, error))
        return false;
    const std::vector<std::wstring> welcome = {WELCOME};
    for (;;) {
        if (FindProcessWindow(process.id, welcome, true)) {
            *ms = NowMs() - start;
            ui::Kill(&process);
            // Let the system finish with the ended process before the next
            // one is timed.
            Sleep(SETTLE_MS);
            return true;
        }
        if (!ui::IsRunning(process)) {
            *error = Describe(L"ended before its first page showed", exe);
            return false;
        }
        if (NowMs() - start > timeoutMs) {
            *error = Describe(L"no first page in time", exe);
            return false;
        }
        Sleep(1);
    }
}

namespace {

// What one look at a page's title costs this process, on average.
double TimeTitleReads(HWND page)
{
    double start = NowMs();
    for (int i = 0; i < TITLE_READS; ++i)
        TitleOf(page);
    return (NowMs() - start) * 1000.0 / TITLE_READS;
}

}  // namespace

bool RunInstall(const std::wstring& exe, const std::wstring& folder, int timeoutMs, Watch watch,
                InstallFigures* figures, std::wstring* error)
{
    *figures = InstallFigures();
    ImageFacts facts;
    if (!ReadImage(exe, &facts, error))
        return false;
    figures->files = (uint32_t)facts.entries.size();
    if (!MakeEmptyFolder(folder) || !RemoveDirectoryW(folder.c_str())) {
        *error = L"cannot empty " + folder;
        return false;
    }

    WarmFile(exe);
    ui::Launch launch;
    launch.program = exe;
    ui::Process process;
    if (!ui::Start(launch, &process, error))
        return false;
    HWND page = ui::WaitForPage(process.id, WELCOME);
    if (!page) {
        *error = Describe(L"no welcome page", exe);
        return false;
    }
    figures->startPrivate = PrivateBytes(process.handle);
    figures->titleReadUs = TimeTitleReads(page);
    if (!ui::Click(page, IDC_NEXT) || !(page = ui::WaitForPage(process.id, AGREEMENT)) ||
        !ui::ClickNow(page, IDC_ACCEPT) ||
        !ui::WaitUntil([&] { return ui::IsEnabled(page, IDC_NEXT); }, 5000) ||
        !ui::Click(page, IDC_NEXT) || !(page = ui::WaitForPage(process.id, DESTINATION)) ||
        !ui::SetControlText(page, IDC_DEST_DIR, folder) || !ui::Click(page, IDC_NEXT) ||
        !(page = ui::WaitForPage(process.id, GROUP))) {
        *error = Describe(L"could not walk to the group page", exe);
        return false;
    }

    std::vector<int> progress;
    ++g_run;
    g_progress = &progress;
    g_asking = false;
    const bool everything = watch == WATCH_EVERYTHING;
    Sleep(QUIET_MS);
    ui::Click(page, IDC_NEXT);
    double start = NowMs(), opened = 0, finished = 0, copyStep = -1, shortcutStep = -1;
    HWND copying = nullptr, bar = nullptr;
    const std::vector<std::wstring> finish = {FINISH};
    bool ok = false;
    for (unsigned turn = 0;; ++turn) {
        double now = NowMs();
        if (!copying && (copying = FindProcessWindow(process.id, COPYING, false)))
            opened = now;
        if (copying) {
            std::wstring text = TitleOf(copying);
            if (copyStep < 0 && text == COPYING[1])
                copyStep = now;
            if (shortcutStep < 0 && text == COPYING[2])
                shortcutStep = now;
        }
        if (copying && everything) {
            // The page is seen as soon as it exists, before its controls do.
            if (!bar)
                bar = GetDlgItem(copying, IDC_PROGRESS);
            uint64_t bytes = PrivateBytes(process.handle);
            if (bytes > figures->peakPrivate)
                figures->peakPrivate = bytes;
            if (IsWindow(copying) && IsHungAppWindow(copying) && !figures->everHung) {
                figures->everHung = true;
                figures->firstHungMs = now - opened;
            }
            if (bar && !g_asking && IsWindow(bar))
                g_asking = SendMessageCallbackW(bar, PBM_GETPOS, 0, 0, ProgressAnswered, g_run);
        }
        // Looking for the finish page walks every window; watching titles,
        // that waits for the last step, and looks now and then before it
        // in case its title went by unseen.
        if ((everything || shortcutStep >= 0 || turn % 64 == 0) &&
            FindProcessWindow(process.id, finish, true)) {
            finished = NowMs();
            ok = copying != nullptr;
            if (!ok)
                *error = Describe(L"the copying page was never seen", exe);
            break;
        }
        if (!ui::IsRunning(process)) {
            *error = Describe(L"ended during the copy", exe);
            break;
        }
        if (now - start > timeoutMs) {
            *error = Describe(L"no finish page in time", exe);
            break;
        }
        if (everything)
            Pump();
        Sleep(1);
    }
    Pump();
    g_progress = nullptr;
    figures->progress = progress;
    if (!ok)
        return false;
    figures->copyMs = finished - opened;
    figures->pausesMs = WRITTEN_FILE_PAUSE_MS * figures->files + 2 * PAGE_PAUSE_MS;
    figures->netMs = figures->copyMs - figures->pausesMs;
    if (copyStep >= 0)
        figures->beforeCopyMs = copyStep - opened;
    if (copyStep >= 0 && shortcutStep >= 0)
        figures->extractMs = shortcutStep - copyStep;
    if (shortcutStep >= 0)
        figures->afterCopyMs = finished - shortcutStep;

    page = FindProcessWindow(process.id, finish, true);
    DWORD code = 1;
    if (!ui::Click(page, IDC_NEXT) || !ui::WaitForExit(process, 15000, &code) || code != 0) {
        *error = Describe(L"did not end cleanly from the finish page", exe);
        return false;
    }
    return true;
}

bool RunCopyReference(const std::wstring& exe, const std::wstring& folder, int timeoutMs,
                      bool links, CopyFigures* figures, std::wstring* error)
{
    *figures = CopyFigures();
    if (!links && !MakeEmptyFolder(folder)) {
        *error = L"cannot make an empty " + folder;
        return false;
    }
    WarmFile(exe);
    ui::Launch launch;
    launch.program = exe;
    if (links)
        launch.arguments = L"links";
    else
        Sleep(QUIET_MS);
    launch.currentDirectory = folder;
    ui::Process process;
    if (!ui::Start(launch, &process, error))
        return false;
    double start = NowMs();
    while (WaitForSingleObject(process.handle, 1) == WAIT_TIMEOUT) {
        uint64_t bytes = PrivateBytes(process.handle);
        if (bytes > figures->peakPrivate)
            figures->peakPrivate = bytes;
        if (NowMs() - start > timeoutMs) {
            *error = Describe(L"did not finish in time", exe);
            return false;
        }
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.handle, &code);
    if (code == 0xFFFFFFFF) {
        *error = Describe(links ? L"could not make its links and keys" : L"could not write its files",
                          exe);
        return false;
    }
    figures->ms = code / 1000.0;
    return true;
}

namespace {

// The image file mapped whole: a large payload takes address space, not
// memory, and the shared reader checks every read against the file's size.
struct MappedImage {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    const unsigned char* bytes = nullptr;
    uint32_t size = 0;
    PeHeaders headers;
};

void UnmapImage(MappedImage* image)
{
    if (image->bytes)
        UnmapViewOfFile(image->bytes);
    if (image->mapping)
        CloseHandle(image->mapping);
    if (image->file != INVALID_HANDLE_VALUE)
        CloseHandle(image->file);
    *image = MappedImage();
}

HANDLE OpenForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool MapImage(const std::wstring& path, MappedImage* image, std::wstring* error)
{
    *image = MappedImage();
    LARGE_INTEGER size = {};
    image->file = OpenForReading(path);
    if (image->file == INVALID_HANDLE_VALUE || !GetFileSizeEx(image->file, &size)) {
        *error = L"cannot open " + path;
        UnmapImage(image);
        return false;
    }
    if (size.QuadPart > 0 && size.QuadPart <= 0xFFFFFFFF)
        image->mapping = CreateFileMappingW(image->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (image->mapping)
        image->bytes = (const unsigned char*)MapViewOfFile(image->mapping, FILE_MAP_READ, 0, 0, 0);
    image->size = (uint32_t)size.QuadPart;
    if (!image->bytes || !ReadPeHeaders(image->bytes, image->size, &image->headers)) {
        *error = L"not a PE image: " + path;
        UnmapImage(image);
        return false;
    }
    return true;
}

// The payload archive's entries, walked as the extraction walks them; false
// when the image has no archive or it is damaged.
bool ReadArchive(const MappedImage& image, uint32_t* archiveSize, uint32_t* total,
                 std::vector<ArchiveEntry>* entries)
{
    uint32_t offset, count;
    if (!FindPeResource(image.bytes, image.size, &image.headers, PE_RESOURCE_RCDATA, IDR_PAYLOAD,
                        PE_ANY_LANGUAGE, &offset, archiveSize) ||
        !ReadArchiveHeader(image.bytes + offset, *archiveSize, total, &count))
        return false;
    uint32_t at = ARCHIVE_HEADER_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        if (!NextArchiveEntry(image.bytes + offset, *archiveSize, &at, &entry))
            return false;
        entries->push_back(entry);
    }
    return true;
}

bool CollectImport(const char* dll, void* context)
{
    ((std::vector<std::string>*)context)->push_back(dll);
    return true;
}

}  // namespace

bool ReadImage(const std::wstring& exe, ImageFacts* facts, std::wstring* error)
{
    *facts = ImageFacts();
    MappedImage image;
    if (!MapImage(exe, &image, error))
        return false;
    const PeHeaders& headers = image.headers;
    facts->fileSize = image.size;
    facts->headerSize = headers.sizeOfHeaders;
    MapPeRva(image.bytes, image.size, &headers, headers.directories[PE_DIRECTORY_RESOURCE].rva, 0,
             &facts->resourceFileOffset);
    PeSection section;
    for (uint32_t i = 0; ReadPeSection(image.bytes, image.size, &headers, i, &section); ++i)
        facts->sections.push_back({section.name, section.rawSize});
    WalkPeImports(image.bytes, image.size, &headers, CollectImport, &facts->imports);
    if (FindPeSection(image.bytes, image.size, &headers,
                      headers.directories[PE_DIRECTORY_BASERELOC].rva, &section))
        facts->relocationSection = section.name;
    // A program without a payload (the reference dialog) has no entries.
    uint32_t offset;
    FindPeResource(image.bytes, image.size, &headers, PE_RESOURCE_RCDATA, IDR_AGREEMENT,
                   PE_ANY_LANGUAGE, &offset, &facts->agreementSize);
    std::vector<ArchiveEntry> entries;
    ReadArchive(image, &facts->archiveSize, &facts->payloadTotal, &entries);
    for (const ArchiveEntry& entry : entries)
        facts->entries.push_back({entry.name, entry.size});
    UnmapImage(&image);
    return true;
}

bool CheckInstalled(const std::wstring& exe, const std::wstring& folder, bool full,
                    std::wstring* error)
{
    MappedImage image;
    uint32_t archiveSize = 0, total = 0;
    std::vector<ArchiveEntry> entries;
    if (!MapImage(exe, &image, error))
        return false;
    if (!ReadArchive(image, &archiveSize, &total, &entries)) {
        UnmapImage(&image);
        *error = L"no readable payload archive in " + exe;
        return false;
    }
    bool ok = true;
    std::vector<unsigned char> got;
    const DWORD CHUNK = 1 << 20;
    for (const ArchiveEntry& entry : entries) {
        std::wstring path = folder + L"\\" + ui::FromCodePage(entry.name);
        HANDLE file = OpenForReading(path);
        LARGE_INTEGER length = {};
        if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &length) ||
            (uint64_t)length.QuadPart != entry.size) {
            *error = path + L" is missing or has the wrong size";
            ok = false;
        }
        for (uint32_t done = 0; ok && full && done < entry.size; done += CHUNK) {
            DWORD piece = entry.size - done < CHUNK ? entry.size - done : CHUNK;
            if (!ReadAt(file, done, piece, &got) ||
                std::memcmp(got.data(), entry.bytes + done, piece) != 0) {
                *error = path + L" differs from the archive near byte " + std::to_wstring(done);
                ok = false;
            }
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!ok)
            break;
    }
    UnmapImage(&image);
    return ok;
}

namespace {

// A folder just emptied may linger for a moment while the process that
// wrote it is torn down (its deletion is pending), and cannot be made anew
// until it has gone.
bool MakeEmptyFolder(const std::wstring& folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (RemoveFolder(folder) && CreateDirectoryW(folder.c_str(), nullptr))
            return true;
        Sleep(20);
    }
    return false;
}

}  // namespace

bool RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace bench

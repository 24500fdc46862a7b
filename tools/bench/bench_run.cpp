#include "bench_run.h"

#include <commctrl.h>
#include <psapi.h>

#include <cstring>

#include "core/package.h"
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

// The fixed pauses of the install sequence: one after each file written,
// one when the page opens and one before it ends.
const double WRITTEN_FILE_PAUSE_MS = 200;
const double PAGE_PAUSES_MS = 2 * 20;
const int SETTLE_MS = 300;

struct Search {
    DWORD processId;
    const std::vector<std::wstring>* captions;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    Search* search = (Search*)data;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    wchar_t text[128];
    int length = InternalGetWindowText(window, text, 128);
    for (const std::wstring& caption : *search->captions)
        if ((size_t)length == caption.size() && caption.compare(0, caption.size(), text, length) == 0) {
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

// The first bytes of the file and the file offset of an RVA.
struct Headers {
    std::vector<unsigned char> bytes;
    IMAGE_NT_HEADERS32 nt;
    std::vector<IMAGE_SECTION_HEADER> sections;

    DWORD OffsetOf(DWORD rva) const
    {
        for (const IMAGE_SECTION_HEADER& s : sections)
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
                return s.PointerToRawData + (rva - s.VirtualAddress);
        return 0;
    }
};

bool ReadAt(HANDLE file, uint64_t offset, DWORD size, std::vector<unsigned char>* out)
{
    out->assign(size, 0);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ::ReadFile(file, out->data(), size, &got, nullptr) && got == size;
}

bool ReadHeaders(HANDLE file, uint64_t fileSize, Headers* headers)
{
    std::vector<unsigned char>& b = headers->bytes;
    if (fileSize < 0x40 || !ReadAt(file, 0, fileSize < 4096 ? (DWORD)fileSize : 4096, &b))
        return false;
    LONG pe = *(const LONG*)&b[0x3C];
    if (pe < 0 || pe + sizeof(IMAGE_NT_HEADERS32) > b.size())
        return false;
    std::memcpy(&headers->nt, &b[pe], sizeof headers->nt);
    size_t table = pe + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                   headers->nt.FileHeader.SizeOfOptionalHeader;
    for (int i = 0; i < headers->nt.FileHeader.NumberOfSections; ++i) {
        if (table + (i + 1) * sizeof(IMAGE_SECTION_HEADER) > b.size())
            return false;
        IMAGE_SECTION_HEADER s;
        std::memcpy(&s, &b[table + i * sizeof s], sizeof s);
        headers->sections.push_back(s);
    }
    return true;
}

bool MakeEmptyFolder(const std::wstring& folder);

// Reads the whole file once, so that a timed run finds it in the page cache
// rather than timing the disk. This machine's cache does not keep large
// files for long, and the setup and its reference must start alike.
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

}  // namespace

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

bool RunInstall(const std::wstring& exe, const std::wstring& folder, int timeoutMs,
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
    ui::Click(page, IDC_NEXT);
    double start = NowMs(), opened = 0, finished = 0, copyStep = -1, shortcutStep = -1;
    HWND copying = nullptr, bar = nullptr;
    const std::vector<std::wstring> finish = {FINISH};
    bool ok = false;
    for (;;) {
        double now = NowMs();
        if (!copying && (copying = FindProcessWindow(process.id, COPYING, false)))
            opened = now;
        if (copying) {
            // The page is seen as soon as it exists, before its controls do.
            if (!bar)
                bar = GetDlgItem(copying, IDC_PROGRESS);
            uint64_t bytes = PrivateBytes(process.handle);
            if (bytes > figures->peakPrivate)
                figures->peakPrivate = bytes;
            wchar_t title[64];
            int length = InternalGetWindowText(copying, title, 64);
            std::wstring text(title, length > 0 ? length : 0);
            if (copyStep < 0 && text == COPYING[1])
                copyStep = now;
            if (shortcutStep < 0 && text == COPYING[2])
                shortcutStep = now;
            if (IsWindow(copying) && IsHungAppWindow(copying) && !figures->everHung) {
                figures->everHung = true;
                figures->firstHungMs = now - opened;
            }
            if (bar && !g_asking && IsWindow(bar))
                g_asking = SendMessageCallbackW(bar, PBM_GETPOS, 0, 0, ProgressAnswered, g_run);
        }
        if (FindProcessWindow(process.id, finish, true)) {
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
        Pump();
        Sleep(1);
    }
    Pump();
    g_progress = nullptr;
    figures->progress = progress;
    if (!ok)
        return false;
    figures->copyMs = finished - opened;
    figures->pausesMs = WRITTEN_FILE_PAUSE_MS * figures->files + PAGE_PAUSES_MS;
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
                      CopyFigures* figures, std::wstring* error)
{
    *figures = CopyFigures();
    if (!MakeEmptyFolder(folder)) {
        *error = L"cannot make an empty " + folder;
        return false;
    }
    WarmFile(exe);
    ui::Launch launch;
    launch.program = exe;
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
        *error = Describe(L"could not write its files", exe);
        return false;
    }
    figures->ms = code / 1000.0;
    return true;
}

namespace {

// A data resource found through the resource directory in the file, so that
// an image too large to map into this process can still be read.
struct FileResource {
    uint64_t offset = 0;
    uint32_t size = 0;
};

bool FindFileResource(HANDLE file, const Headers& headers, int id, FileResource* found)
{
    const IMAGE_DATA_DIRECTORY& directory =
        headers.nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    DWORD base = headers.OffsetOf(directory.VirtualAddress);
    if (!base)
        return false;
    // type RT_RCDATA -> name id -> the first language -> data entry
    DWORD level = base;
    const DWORD keys[3] = {(DWORD)(ULONG_PTR)RT_RCDATA, (DWORD)id, 0};
    for (int depth = 0; depth < 3; ++depth) {
        std::vector<unsigned char> head;
        if (!ReadAt(file, level, sizeof(IMAGE_RESOURCE_DIRECTORY), &head))
            return false;
        IMAGE_RESOURCE_DIRECTORY dir;
        std::memcpy(&dir, head.data(), sizeof dir);
        DWORD count = dir.NumberOfNamedEntries + dir.NumberOfIdEntries;
        std::vector<unsigned char> entries;
        if (!ReadAt(file, level + sizeof dir, count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY), &entries))
            return false;
        DWORD next = 0;
        bool matched = false;
        for (DWORD i = 0; i < count && !matched; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY e;
            std::memcpy(&e, &entries[i * sizeof e], sizeof e);
            if (depth == 2 || (!(e.Name & 0x80000000u) && (e.Name & 0xFFFF) == keys[depth])) {
                next = e.OffsetToData;
                matched = true;
            }
        }
        if (!matched)
            return false;
        if (depth < 2) {
            if (!(next & 0x80000000u))
                return false;
            level = base + (next & 0x7FFFFFFFu);
        } else {
            std::vector<unsigned char> data;
            if (!ReadAt(file, base + next, sizeof(IMAGE_RESOURCE_DATA_ENTRY), &data))
                return false;
            IMAGE_RESOURCE_DATA_ENTRY d;
            std::memcpy(&d, data.data(), sizeof d);
            found->offset = headers.OffsetOf(d.OffsetToData);
            found->size = d.Size;
            return found->offset != 0;
        }
    }
    return false;
}

// The archive's entries, read header by header from the file.
struct FileEntry {
    std::string name;
    uint32_t size;
    uint64_t offset;  // of its bytes in the image file
};

bool ReadFileArchive(HANDLE file, const FileResource& archive, uint32_t* total,
                     std::vector<FileEntry>* entries)
{
    std::vector<unsigned char> head;
    if (archive.size < ARCHIVE_HEADER_SIZE || !ReadAt(file, archive.offset, ARCHIVE_HEADER_SIZE, &head))
        return false;
    uint32_t count = 0;
    ReadArchiveHeader(head.data(), ARCHIVE_HEADER_SIZE, total, &count);
    uint64_t at = ARCHIVE_HEADER_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        if (archive.size - at < ENTRY_HEADER_SIZE ||
            !ReadAt(file, archive.offset + at, ENTRY_HEADER_SIZE, &head))
            return false;
        FileEntry entry;
        entry.name.assign((const char*)head.data(), strnlen((const char*)head.data(), ENTRY_NAME_SIZE));
        entry.size = ReadUint32(&head[ENTRY_NAME_SIZE]);
        entry.offset = archive.offset + at + ENTRY_HEADER_SIZE;
        at += ENTRY_HEADER_SIZE;
        if (archive.size - at < entry.size)
            return false;
        at += entry.size;
        entries->push_back(entry);
    }
    return true;
}

HANDLE OpenForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool ReadImage(const std::wstring& exe, ImageFacts* facts, std::wstring* error)
{
    *facts = ImageFacts();
    HANDLE file = OpenForReading(exe);
    if (file == INVALID_HANDLE_VALUE) {
        *error = L"cannot open " + exe;
        return false;
    }
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    facts->fileSize = (uint64_t)size.QuadPart;
    Headers headers;
    bool ok = ReadHeaders(file, facts->fileSize, &headers);
    if (ok) {
        const IMAGE_DATA_DIRECTORY& resources =
            headers.nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
        facts->resourceFileOffset = headers.OffsetOf(resources.VirtualAddress);
        for (const IMAGE_SECTION_HEADER& s : headers.sections)
            facts->sections.push_back(
                {std::string((const char*)s.Name, strnlen((const char*)s.Name, 8)),
                 s.SizeOfRawData});
        // The import descriptors and their names lie in one section.
        const IMAGE_DATA_DIRECTORY& imports =
            headers.nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (const IMAGE_SECTION_HEADER& s : headers.sections) {
            if (imports.VirtualAddress < s.VirtualAddress ||
                imports.VirtualAddress - s.VirtualAddress >= s.SizeOfRawData)
                continue;
            std::vector<unsigned char> data;
            if (!ReadAt(file, s.PointerToRawData, s.SizeOfRawData, &data))
                break;
            for (DWORD at = imports.VirtualAddress - s.VirtualAddress;
                 at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= data.size();
                 at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
                IMAGE_IMPORT_DESCRIPTOR d;
                std::memcpy(&d, &data[at], sizeof d);
                if (!d.Name)
                    break;
                DWORD name = d.Name - s.VirtualAddress;
                if (name < data.size())
                    facts->imports.push_back(
                        std::string((const char*)&data[name], strnlen((const char*)&data[name],
                                                                      data.size() - name)));
            }
        }
        // A program without a payload (the reference dialog) has no entries.
        FileResource archive, agreement;
        if (FindFileResource(file, headers, IDR_AGREEMENT, &agreement))
            facts->agreementSize = agreement.size;
        std::vector<FileEntry> entries;
        if (FindFileResource(file, headers, IDR_PAYLOAD, &archive)) {
            facts->archiveSize = archive.size;
            ReadFileArchive(file, archive, &facts->payloadTotal, &entries);
        }
        for (const FileEntry& entry : entries)
            facts->entries.push_back({entry.name, entry.size});
    }
    CloseHandle(file);
    if (!ok)
        *error = L"not a PE image: " + exe;
    return ok;
}

bool CheckInstalled(const std::wstring& exe, const std::wstring& folder, bool full,
                    std::wstring* error)
{
    HANDLE image = OpenForReading(exe);
    LARGE_INTEGER imageSize = {};
    Headers headers;
    FileResource archive;
    uint32_t total = 0;
    std::vector<FileEntry> entries;
    if (image == INVALID_HANDLE_VALUE || !GetFileSizeEx(image, &imageSize) ||
        !ReadHeaders(image, (uint64_t)imageSize.QuadPart, &headers) ||
        !FindFileResource(image, headers, IDR_PAYLOAD, &archive) ||
        !ReadFileArchive(image, archive, &total, &entries)) {
        if (image != INVALID_HANDLE_VALUE)
            CloseHandle(image);
        *error = L"no readable payload archive in " + exe;
        return false;
    }
    bool ok = true;
    std::vector<unsigned char> expected, got;
    const DWORD CHUNK = 1 << 20;
    for (const FileEntry& entry : entries) {
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
            if (!ReadAt(image, entry.offset + done, piece, &expected) ||
                !ReadAt(file, done, piece, &got) || got != expected) {
                *error = path + L" differs from the archive near byte " + std::to_wstring(done);
                ok = false;
            }
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!ok)
            break;
    }
    CloseHandle(image);
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

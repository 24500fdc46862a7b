// Measuring the setup from outside: how long its first page takes to show,
// how long its copy takes, how much private memory it uses meanwhile, and
// whether the system would call its window hung. Shared by the benchmark
// and the large-payload test.
//
// The timed waits poll without ever sending a message to the program under
// test: while the setup copies it services no messages, and a sent message
// would stall the clock. Window captions are read with
// InternalGetWindowText, which asks the window manager, not the window.
#ifndef MURM_BENCH_RUN_H
#define MURM_BENCH_RUN_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

extern const wchar_t WELCOME[];
extern const wchar_t FINISH[];

// Milliseconds on the performance counter.
double NowMs();

// Reads the whole file once, sequentially, so that a timed run finds it in
// the page cache rather than timing the disk. This machine's cache does not
// keep large files for long, and the setup and its reference must start
// alike.
void WarmFile(const std::wstring& path);

// A top-level window of the process whose caption is one of captions, only
// visible ones when visibleOnly; null when none.
HWND FindProcessWindow(DWORD processId, const std::vector<std::wstring>& captions,
                       bool visibleOnly);

// Private memory of the process in bytes. Wine reports the current figure
// as the peak as well, so callers sample it and keep the largest.
uint64_t PrivateBytes(HANDLE process);

// Starts exe and waits for its visible welcome page; *ms is the time from
// just before CreateProcess. The program is ended afterwards.
bool TimeFirstPage(const std::wstring& exe, int timeoutMs, double* ms, std::wstring* error);

// What RunInstall watches while the setup copies. Titles: only the copying
// page's title, once a millisecond, so that the steps it names are timed
// with as little of this process in the setup's way as can be. Everything:
// also its private memory, whether the system calls its window hung and
// the progress bar's position, each once a millisecond.
enum Watch { WATCH_TITLES, WATCH_EVERYTHING };

struct InstallFigures {
    double copyMs = 0;        // copying page created -> finish page visible
    double pausesMs = 0;      // the fixed pauses the sequence sleeps
    double netMs = 0;         // copyMs - pausesMs
    // Where the copy time goes, by the page's title: from its creation to
    // the copying step, the copying step (pauses included), and from the
    // shortcut step to the finish page. -1 when a title was not seen.
    double beforeCopyMs = -1, extractMs = -1, afterCopyMs = -1;
    double titleReadUs = 0;     // one read of a page's title from here
    uint64_t startPrivate = 0;  // private bytes at the welcome page
    uint64_t peakPrivate = 0;   // largest sample during the copy
    bool everHung = false;      // IsHungAppWindow true at some sample
    double firstHungMs = -1;    // when, from the copying page's creation
    std::vector<int> progress;  // bar positions the page answered, in order
    uint32_t files = 0;
};

// The fixed pauses of the install sequence: one after each file written,
// one when the copying page opens and one before it ends.
const double WRITTEN_FILE_PAUSE_MS = 200;
const double PAGE_PAUSE_MS = 20;

// Walks exe's wizard with folder as the installation folder (emptied
// first), times the copy watching as watch says and closes the finish page
// with no option ticked.
bool RunInstall(const std::wstring& exe, const std::wstring& folder, int timeoutMs, Watch watch,
                InstallFigures* figures, std::wstring* error);

struct CopyFigures {
    double ms = 0;
    uint64_t peakPrivate = 0;
};

// Runs a copy reference (ref_copy-NAME.exe) in folder: emptied first when
// it writes the files, left as it is when links asks it to make the
// shortcuts and the uninstall key.
bool RunCopyReference(const std::wstring& exe, const std::wstring& folder, int timeoutMs,
                      bool links, CopyFigures* figures, std::wstring* error);

struct PackageEntry {
    std::string name;
    uint32_t size;
};

struct ImageFacts {
    uint64_t fileSize = 0;
    uint32_t payloadTotal = 0;     // the archive's total: the files' bytes
    uint32_t archiveSize = 0;      // the whole PayloadArchive resource
    uint32_t agreementSize = 0;
    std::vector<PackageEntry> entries;
    uint32_t headerSize = 0;
    std::vector<std::pair<std::string, uint32_t>> sections;  // name, bytes in the file
    std::vector<std::string> imports;
    uint32_t resourceFileOffset = 0;
    std::string relocationSection;  // the section the relocations lie in
};

// Reads an executable's package resources and headers.
bool ReadImage(const std::wstring& exe, ImageFacts* facts, std::wstring* error);

// Compares the files in folder with exe's archive entries: sizes always,
// every byte when full.
bool CheckInstalled(const std::wstring& exe, const std::wstring& folder, bool full,
                    std::wstring* error);

// Deletes folder and everything in it; true when it is gone.
bool RemoveFolder(const std::wstring& folder);

}  // namespace bench

#endif

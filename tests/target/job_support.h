// Running a program and everything it starts inside a job object: the
// wait covers the processes it hands work to, and a timeout kills them all.
// Also the windows those processes show.
#ifndef JOB_SUPPORT_H
#define JOB_SUPPORT_H

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

const DWORD RUN_TIMEOUT_MS = 60000;

// A Linux path of the build, as Wine's Z: drive shows it.
inline std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

struct RunResult {
    bool finished;
    DWORD exitCode;  // of the program started, not of its copy
    DWORD pid;
};

inline std::vector<DWORD> JobProcesses(HANDLE job)
{
    struct { JOBOBJECT_BASIC_PROCESS_ID_LIST list; ULONG_PTR more[63]; } ids = {};
    QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, NULL);
    return std::vector<DWORD>(ids.list.ProcessIdList, ids.list.ProcessIdList + ids.list.NumberOfProcessIdsInList);
}

// A top-level window of this class and caption shown by a process of the
// job; a message box is of class "#32770". Only a shown window counts: a
// window is found by its caption as soon as it is created, before its
// children are made and its texts set.
inline HWND FindJobWindow(HANDLE job, const wchar_t* className, const wchar_t* caption)
{
    std::vector<DWORD> pids = JobProcesses(job);
    for (HWND window = FindWindowExW(NULL, NULL, className, caption); window;
         window = FindWindowExW(NULL, window, className, caption)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (IsWindowVisible(window) && std::find(pids.begin(), pids.end(), pid) != pids.end())
            return window;
    }
    return NULL;
}

// The texts of a window's children, one a line.
inline std::wstring ChildTexts(HWND window)
{
    std::wstring texts;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[2048] = L"";
        SendMessageW(child, WM_GETTEXT, 2048, (LPARAM)text);
        texts += text;
        texts += L"\n";
    }
    return texts;
}

// Starts commandLine in a job and waits until every process of the job has
// ended; answer (may be empty) is called while waiting, with the job. On
// timeout the whole job is killed.
inline RunResult RunInJob(const std::string& commandLine, const std::string& folder,
                          const std::function<void(HANDLE job)>& answer = nullptr)
{
    RunResult run = {false, 0, 0};
    // Wine starts the desktop's own process when the first window is made.
    // Made from inside the job, it would be one of the job's processes and
    // fail to start, and no window could be shown; so a window is made here
    // first.
    static bool desktopStarted = false;
    if (!desktopStarted) {
        DestroyWindow(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL));
        desktopStarted = true;
    }
    HANDLE job = CreateJobObjectA(NULL, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string line = commandLine;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, folder.c_str(),
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        CloseHandle(job);
        return run;
    }
    run.pid = process.dwProcessId;
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    for (DWORD waited = 0; waited < RUN_TIMEOUT_MS; waited += 50) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
        QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, NULL);
        if (info.ActiveProcesses == 0) { run.finished = true; break; }
        if (answer) answer(job);
        Sleep(50);
    }
    if (!run.finished) {
        TerminateJobObject(job, 99);
        ADD_FAILURE() << "timed out: " << commandLine;
    }
    WaitForSingleObject(process.hProcess, 5000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return run;
}

#endif

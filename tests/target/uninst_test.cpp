// The uninstaller against hand-made installations: a temporary folder with
// the files, a program group in the Programs folder, shortcuts on the
// Desktop and the registry keys a setup.log names, each under a name of the
// test's own.
// Every run happens inside a job object, so that the copy the uninstaller
// starts in the temporary folder is waited for and killed with it.
// Files in use are tested end to end (inuse_test): what the uninstaller
// does with them writes the system's list of deletions at the next restart,
// which those tests change and watch one at a time.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "actions_support.h"
#include "job_support.h"
#include "uidriver.h"
#include "uninstall/uninst.h"

#include <sddl.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ShellFolder(int id)
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, path, id, FALSE);
    return path;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetDefault(HKEY root, const std::string& path, const std::string& value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL), ERROR_SUCCESS);
    RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
}

// A run of the uninstaller whose copy was followed to its end.
struct Followed {
    RunResult run;
    DWORD copyExitCode = 99;  // 99: no copy was seen
    std::string copyImage;    // the copy's file, as it was started
};

// Runs commandLine in a job and looks about every millisecond, until the job
// is empty, at its processes (to learn the copy's exit code) and, through
// look (may be empty), at the machine and the job; when look returns false
// the job is killed there, as a crash would end it.
Followed RunFollowed(const std::string& commandLine, const std::string& folder,
                     const std::function<bool(HANDLE job)>& look = nullptr)
{
    Followed followed;
    // The job also holds what the system starts on the way (Wine's menu
    // builder, for one); the copy is known by its file's name, which a new
    // process tells only once it has been set up.
    std::set<DWORD> known;
    HANDLE copy = NULL;
    followed.run = RunInJob(commandLine, folder, [&](HANDLE job) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < RUN_TIMEOUT_MS; Sleep(1)) {
            for (DWORD pid : JobProcesses(job)) {
                if (copy || known.count(pid)) continue;
                HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
                char image[MAX_PATH] = "";
                DWORD length = MAX_PATH;
                if (process && QueryFullProcessImageNameA(process, 0, image, &length)) {
                    known.insert(pid);
                    if (std::string(image).find("\\murm-uninst-") != std::string::npos) {
                        copy = process;
                        followed.copyImage = image;
                        continue;
                    }
                }
                if (process) CloseHandle(process);
            }
            if (look && !look(job)) TerminateJobObject(job, 1);
            JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
            QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, NULL);
            if (info.ActiveProcesses == 0) return;
        }
    });
    if (copy) {
        WaitForSingleObject(copy, 5000);
        GetExitCodeProcess(copy, &followed.copyExitCode);
        CloseHandle(copy);
    }
    return followed;
}

class UninstallTest : public ::testing::Test {
protected:
    std::string root, install, group, desktop, report, log, tag, className;

    void SetUp() override
    {
        static int counter;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        tag = "MurmUninstTest" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
        className = tag + "Class";
        root = temp + tag;
        install = root + "\\Murmelist";
        group = ShellFolder(CSIDL_PROGRAMS) + "\\" + tag;
        desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
        report = root + "\\report.txt";
        log = install + "\\setup.log";
        for (const std::string& folder : {root, install, group}) CreateDirectoryA(folder.c_str(), NULL);
        std::string uninstaller = WindowsPath(BUILD_DIR "/package/uninst.exe");
        ASSERT_TRUE(CopyFileA(uninstaller.c_str(), (install + "\\uninst.exe").c_str(), FALSE)) << uninstaller;
        MakeInstallation();
    }

    void TearDown() override
    {
        RemoveTree(root);
        RemoveTree(group);
        for (const std::string& link : Links()) DeleteFileA(link.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(UNINSTALL_KEY) + "\\" + tag).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("." + tag).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, className.c_str());
    }

    void Log(const char* section, const std::string& key, const std::string& value)
    {
        WritePrivateProfileStringA(section, key.c_str(), value.c_str(), log.c_str());
    }

    std::vector<std::string> Files() const
    {
        return {install + "\\MurmList.exe", install + "\\murm.chm", install + "\\settings.ini",
                install + "\\Base2.vdb", install + "\\uninst.exe"};
    }
    std::vector<std::string> Links() const
    {
        return {group + "\\Murmelist.lnk", group + "\\Удалить Murmelist.lnk",
                desktop + "\\" + tag + ".lnk", desktop + "\\" + tag + " 2.0.lnk"};
    }
    std::vector<std::string> ClassKeys() const
    {
        return {"." + tag, className + "\\shell\\open\\command", className + "\\shell\\open",
                className + "\\shell", className + "\\DefaultIcon", className};
    }
    std::string UninstallEntry() const { return std::string(UNINSTALL_KEY) + "\\" + tag; }

    // Everything a complete setup run makes, logged in the order it writes it.
    void MakeInstallation()
    {
        std::vector<std::string> files = Files();
        for (size_t i = 0; i + 1 < files.size(); ++i) WriteWholeFile(files[i], "data " + files[i]);
        for (const std::string& link : Links()) WriteWholeFile(link, "link");

        Log("Common", "ProgramName", "Murmelist");
        Log("Files", "Dir", install);
        Log("Files", "n", "6");
        Log("Files", "size", "1000");
        for (size_t i = 0; i < files.size(); ++i) Log("Files", "File" + std::to_string(i + 1), files[i]);
        Log("Files", "File6", install + "\\settings.ini");
        std::vector<std::string> links = Links();
        Log("Links", "n", "2");
        Log("Links", "Link1", links[0]);
        Log("Links", "Link2", links[1]);
        Log("Links", "Dir", group);
        Log("Links", "size", "8");

        SetDefault(HKEY_LOCAL_MACHINE, UninstallEntry(), "");
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntry().c_str(), 0, KEY_SET_VALUE, &key);
        std::string command = "\"" + install + "\\uninst.exe\"";
        RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)tag.c_str(), (DWORD)tag.size() + 1);
        RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE*)command.c_str(), (DWORD)command.size() + 1);
        RegCloseKey(key);
        Log("RegUninst", "n", "3");
        Log("RegUninst", "Dir", UNINSTALL_KEY);
        Log("RegUninst", "SubKey", tag);
        Log("RegUninst", "Key1", "DisplayName");
        Log("RegUninst", "Key2", "UninstallString");

        Log("Links", "Link3", links[2]);
        Log("Links", "n", "3");
        Log("Links", "Link4", links[3]);
        Log("Links", "n", "4");

        SetDefault(HKEY_CLASSES_ROOT, "." + tag, className);
        SetDefault(HKEY_CLASSES_ROOT, className + "\\DefaultIcon", install + "\\murmlist.exe,1");
        SetDefault(HKEY_CLASSES_ROOT, className + "\\shell\\open\\command", install + "\\murmlist.exe \"%1\"");
        Log("RegClass", "n", "6");
        Log("RegClass", "Dir1", "");
        Log("RegClass", "Sub1", "." + tag);
        Log("RegClass", "Dir6", "");
        Log("RegClass", "Sub6", className);
        Log("RegClass", "Sub5", "DefaultIcon");
        Log("RegClass", "Dir4", className);
        Log("RegClass", "Dir5", className);
        Log("RegClass", "Sub4", "shell");
        Log("RegClass", "Dir3", className + "\\shell");
        Log("RegClass", "Sub3", "open");
        Log("RegClass", "Dir2", className + "\\shell\\open");
        Log("RegClass", "Sub2", "command");
    }

    std::string Command(bool quiet) const
    {
        return "\"" + install + "\\uninst.exe\"" + (quiet ? " /quiet" : "") + " /report:\"" + report + "\"";
    }

    // The report's lines; "<none>" when the uninstaller wrote no report.
    std::set<std::string> Report() const
    {
        std::ifstream in(report, std::ios::binary);
        if (!in) return {"<none>"};
        std::set<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.insert(line);
        }
        return lines;
    }

    // The copy ran from a private folder of the temporary folder, under a
    // name nobody could guess, and nothing of it is left once its job has
    // ended: neither the folder nor the file it moved beside it.
    void ExpectNoCopyLeft(const Followed& followed) const
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string stem = std::string(temp) + "murm-uninst-" + std::to_string(followed.run.pid) + "-";
        EXPECT_EQ(followed.copyImage.rfind(stem, 0), 0u) << followed.copyImage;
        const std::string name = followed.copyImage.substr(std::min(stem.size(), followed.copyImage.size()));
        EXPECT_EQ(name.size(), 32 + std::string("\\uninst.exe").size()) << followed.copyImage;
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), 32u) << followed.copyImage;
        bool left = true;
        for (int i = 0; i < 40 && left; ++i) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((stem + "*").c_str(), &found);
            left = search != INVALID_HANDLE_VALUE;
            if (left) { FindClose(search); Sleep(50); }
        }
        EXPECT_FALSE(left) << stem << "*";
    }

    void ExpectAllGone() const
    {
        for (const std::string& file : Files()) EXPECT_FALSE(Exists(file)) << file;
        for (const std::string& link : Links()) EXPECT_FALSE(Exists(link)) << link;
        EXPECT_FALSE(Exists(group));
        EXPECT_FALSE(Exists(log));
        EXPECT_FALSE(Exists(install));
        EXPECT_TRUE(Exists(desktop)) << "a folder the log does not name as a group stays";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry()));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
        for (const std::string& key : ClassKeys()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
};

TEST_F(UninstallTest, RemovesEverythingTheLogNamesAndItself)
{
    // A file the user declined to overwrite leaves a gap in the numbering
    // (here with no file left behind), and a logged file may be gone already.
    WritePrivateProfileStringA("Files", "File2", NULL, log.c_str());
    DeleteFileA((install + "\\murm.chm").c_str());
    DeleteFileA((install + "\\Base2.vdb").c_str());
    // The uninstaller that ran goes too, even when an older copy was kept
    // and the log does not name it.
    WritePrivateProfileStringA("Files", "File5", NULL, log.c_str());
    // A shortcut, a key and a value the log names may be gone as well (a
    // file logged before it was written may have been given up).
    DeleteFileA(Links()[1].c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (className + "\\DefaultIcon").c_str());
    HKEY entry;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntry().c_str(), 0, KEY_SET_VALUE, &entry),
              ERROR_SUCCESS);
    RegDeleteValueA(entry, "DisplayName");
    RegCloseKey(entry);
    // A later setup into the folder lowered n and left the keys past it,
    // with what they record, as they were.
    Log("Links", "n", "2");

    Followed followed = RunFollowed(Command(true), install);
    ASSERT_TRUE(followed.run.finished);
    EXPECT_EQ(followed.copyExitCode, 0u);
    EXPECT_EQ(Report(), std::set<std::string>());
    ExpectAllGone();
    ExpectNoCopyLeft(followed);
}

// The setup logs each item before it makes it, so after a crash the log
// names things that were never made, and an empty placeholder for a file
// type key; and a crash while the log was being rewritten leaves setup.tmp.
TEST_F(UninstallTest, WhatACrashedSetupNeverMadeIsNoLeftover)
{
    for (const std::string& link : Links()) DeleteFileA(link.c_str());
    RemoveDirectoryA(group.c_str());
    DeleteFileA((install + "\\Base2.vdb").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, UninstallEntry().c_str());
    for (const std::string& key : ClassKeys()) RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    Log("RegClass", "Sub1", "");
    WriteWholeFile(install + "\\setup.tmp", "[Common]\r\n");

    Followed followed = RunFollowed(Command(true), install);
    ASSERT_TRUE(followed.run.finished);
    EXPECT_EQ(followed.copyExitCode, 0u);
    EXPECT_EQ(Report(), std::set<std::string>());
    ExpectAllGone();
}

// Whenever a run ends, the entry must still start an uninstaller that reads
// a log naming all that is left: what the log describes goes first, then
// the entry, setup.tmp, the log, the uninstaller and its folder. A run ended
// part-way is finished by the next, started from the entry: the first run
// finds the second file held open and is ended at its question about it.
TEST_F(UninstallTest, AnInterruptedRunIsFinishedFromTheEntry)
{
    WriteWholeFile(install + "\\setup.tmp", "[Common]\r\n");
    std::vector<std::string> described = Files();
    described.pop_back();  // uninst.exe
    for (const std::string& link : Links()) described.push_back(link);
    described.push_back(group);
    auto describedLeft = [&] {
        size_t left = 0;
        for (const std::string& path : described) left += Exists(path);
        for (const std::string& key : ClassKeys()) left += KeyExists(HKEY_CLASSES_ROOT, key);
        return left;
    };
    const size_t describedTotal = describedLeft();
    // In the order of removal, each true while its items are there.
    std::vector<std::pair<std::string, std::function<bool()>>> stages = {
        {"what the log describes", [&] { return describedLeft() > 0; }},
        {"the entry", [&] { return KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry()); }},
        {"setup.tmp", [&] { return Exists(install + "\\setup.tmp"); }},
        {"the log", [&] { return Exists(log); }},
        {"the uninstaller", [&] { return Exists(install + "\\uninst.exe"); }},
        {"the folder", [&] { return Exists(install); }},
    };
    std::set<std::string> outOfOrder;
    // Read from the last stage back: a stage found gone stays gone, so an
    // earlier one still there afterwards was passed over. Looking can miss
    // a step, never invent one.
    auto inOrder = [&] {
        bool laterGone = false;
        for (size_t i = stages.size(); i-- > 0;) {
            bool there = stages[i].second();
            if (there && laterGone) outOfOrder.insert(stages[i].first);
            laterGone = laterGone || !there;
        }
        return outOfOrder.empty();
    };

    const std::string held = Files()[1];
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Yes to the question before the removal; the job is ended at the
    // question about the file held open, where the uninstaller waits.
    bool askedAboutHeld = false;
    Followed first = RunFollowed(Command(false), install, [&](HANDLE job) {
        inOrder();
        for (DWORD id : JobProcesses(job)) {
            HWND found = ui::FindMessageBox(id);
            ui::MessageBoxInfo box;
            if (!found || !ui::ReadWholeMessageBox(found, &box)) continue;
            if (box.buttons == std::vector<int>{IDYES, IDNO}) {
                ui::Answer(found, IDYES);
                return true;
            }
            askedAboutHeld = box.text.find(ui::FromCodePage(held, CP_ACP)) != std::wstring::npos;
            return false;
        }
        return true;
    });
    CloseHandle(holder);
    ASSERT_TRUE(first.run.finished);
    ASSERT_TRUE(askedAboutHeld) << "the first run was not stopped at the file held open";
    EXPECT_EQ(outOfOrder, std::set<std::string>());
    EXPECT_FALSE(Exists(Files()[0])) << "the first file stayed";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry()));
    EXPECT_LT(describedLeft(), describedTotal);

    char command[MAX_PATH * 2] = "";
    DWORD size = sizeof command;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, UninstallEntry().c_str(), "UninstallString", RRF_RT_REG_SZ,
                           NULL, command, &size), ERROR_SUCCESS);
    Followed second = RunFollowed(std::string(command) + " /quiet /report:\"" + report + "\"", root,
                                  [&](HANDLE) { return inOrder(); });
    ASSERT_TRUE(second.run.finished);
    EXPECT_EQ(outOfOrder, std::set<std::string>());
    EXPECT_EQ(second.copyExitCode, 0u);
    EXPECT_EQ(Report(), std::set<std::string>());
    ExpectAllGone();
}

TEST_F(UninstallTest, KeepsAndReportsWhatItCannotRemove)
{
    WriteWholeFile(group + "\\mine.lnk", "user's own shortcut");
    WriteWholeFile(install + "\\notes.txt", "user's own file");
    SetDefault(HKEY_CLASSES_ROOT, className + "\\shell\\print\\command", "print.exe");
    SetFileAttributesA((install + "\\settings.ini").c_str(), FILE_ATTRIBUTE_READONLY);

    Followed followed = RunFollowed(Command(true), install);
    ASSERT_TRUE(followed.run.finished);
    EXPECT_EQ(followed.copyExitCode, 1u);
    EXPECT_EQ(Report(), (std::set<std::string>{
                            group + " (папка не пуста)",
                            "HKEY_CLASSES_ROOT\\" + className + "\\shell",
                            "HKEY_CLASSES_ROOT\\" + className,
                            install + " (папка не пуста)",
                        }));
    for (const std::string& file : Files()) EXPECT_FALSE(Exists(file)) << file;
    for (const std::string& link : Links()) EXPECT_FALSE(Exists(link)) << link;
    EXPECT_TRUE(Exists(group + "\\mine.lnk"));
    EXPECT_TRUE(Exists(install + "\\notes.txt"));
    EXPECT_FALSE(Exists(log));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry()));
    for (const std::string& key : ClassKeys()) {
        bool kept = key == className || key == className + "\\shell";
        EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, key), kept) << key;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, className + "\\shell\\print\\command"));
}

TEST_F(UninstallTest, NeverRemovesAShellFolderLoggedAsTheGroup)
{
    // An empty group name puts the shortcuts straight into a shell folder,
    // which the log then names, with a trailing backslash, as the group.
    char startup[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, startup, CSIDL_STARTUP, TRUE));
    std::string link = std::string(startup) + "\\" + tag + ".lnk";
    WriteWholeFile(link, "link");
    Log("Links", "Link1", link);
    Log("Links", "Dir", std::string(startup) + "\\");
    DeleteFileA(Links()[0].c_str());
    DeleteFileA(Links()[1].c_str());

    RunResult run = RunInJob(Command(true), install);
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(Exists(link));
    EXPECT_TRUE(Exists(startup));
    EXPECT_EQ(Report(), std::set<std::string>());
}

TEST_F(UninstallTest, WithoutALogTouchesNothing)
{
    DeleteFileA(log.c_str());
    RunResult run = RunInJob(Command(true), install);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(Report(), std::set<std::string>{install});
    for (const std::string& file : Files()) EXPECT_TRUE(Exists(file)) << file;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, className));
}

TEST_F(UninstallTest, AsksFirstAndNoKeepsEverything)
{
    std::wstring question;
    RunResult run = RunInJob(Command(false), install, [&](HANDLE job) {
        if (HWND box = FindJobWindow(job, L"#32770", L"Удаление программы")) {
            question = ChildTexts(box);
            PostMessageW(box, WM_COMMAND, IDNO, 0);
        }
    });
    ASSERT_TRUE(run.finished);
    EXPECT_NE(question.find(L"Удалить программу Murmelist и все её компоненты?"), std::wstring::npos);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Report(), std::set<std::string>{"<none>"});
    for (const std::string& file : Files()) EXPECT_TRUE(Exists(file)) << file;
    EXPECT_TRUE(Exists(log));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry()));
}

TEST_F(UninstallTest, YesRemovesEverythingAndSaysSo)
{
    std::vector<std::wstring> boxes;
    RunResult run = RunInJob(Command(false), install, [&](HANDLE job) {
        if (HWND box = FindJobWindow(job, L"#32770", L"Удаление программы")) {
            std::wstring text = ChildTexts(box);
            if (boxes.empty() || boxes.back() != text) boxes.push_back(text);
            PostMessageW(box, WM_COMMAND, boxes.size() == 1 ? IDYES : IDOK, 0);
        }
    });
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].find(L"Программа Murmelist удалена с компьютера."), std::wstring::npos);
    EXPECT_EQ(Report(), std::set<std::string>());
    ExpectAllGone();
}

}  // namespace

namespace {

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], (DWORD)text.size());
    return text;
}

// The same path as an earlier setup may have spelt it.
std::string Respelt(const std::string& path, int how)
{
    char shortPath[MAX_PATH] = "";
    std::string slashed = path;
    switch (how) {
    case 0: return "\\\\?\\" + path;
    case 1:
        for (char& c : slashed)
            if (c == '\\') c = '/';
        return slashed;
    case 2: return Upper(path);
    default:
        GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
        return shortPath[0] ? shortPath : path;
    }
}

TEST_F(UninstallTest, AnotherSpellingOfItsFolderIsStillItsOwn)
{
    // Every path of the log, the uninstall command and the file type's
    // command, each in a spelling of its own: all of it is this
    // installation's, and goes.
    int how = 0;
    std::vector<std::string> files = Files();
    for (size_t i = 0; i < files.size(); ++i)
        Log("Files", "File" + std::to_string(i + 1), Respelt(files[i], how++ % 4));
    std::vector<std::string> links = Links();
    for (size_t i = 0; i < links.size(); ++i)
        Log("Links", "Link" + std::to_string(i + 1), Respelt(links[i], how++ % 4));
    Log("Links", "Dir", Respelt(group, 3));
    std::string command = "\"" + Respelt(install, 0) + "\\uninst.exe\"";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, UninstallEntry().c_str(), "UninstallString", REG_SZ,
                              command.c_str(), (DWORD)command.size() + 1),
              ERROR_SUCCESS);
    SetDefault(HKEY_CLASSES_ROOT, className + "\\shell\\open\\command",
               "\"" + Respelt(install, 3) + "\\MURMLIST.EXE\" \"%1\"");

    Followed followed = RunFollowed(Command(true), install);
    ASSERT_TRUE(followed.run.finished);
    EXPECT_EQ(followed.copyExitCode, 0u);
    EXPECT_EQ(Report(), std::set<std::string>());
    ExpectAllGone();
}

// Values of any length, counts out of range, sections missing or named
// twice, keys by the hundred thousand: the uninstaller reads within bounds,
// ends in good time, and removes nothing the log does not name as its own.
TEST_F(UninstallTest, ADamagedLogNeverMakesItCrashOrHang)
{
    std::string text = "[Files]\r\nn=99999999999\r\nFile1=" + std::string(70000, 'x') + "\r\n";
    text += "File2=" + install + "\\murm.chm\r\n";
    for (int i = 3; i < 200000; ++i) text += "File" + std::to_string(i) + "=" + install + "\\gone\r\n";
    text += "[Links]\r\nn=-7\r\nDir=\r\nLink1=\r\n[RegClass]\r\nn=2147483647\r\nSub1=" +
            std::string(5000, '.') + "\r\n[RegUninst]\r\nDir=" + UNINSTALL_KEY + "\r\nSubKey=\r\n[Files]\r\n" +
            "File3=" + install + "\\Base2.vdb\r\n[Earlier]\r\nn=4294967296\r\nKey1=..\r\nDir1=C:\\\r\n";
    WriteWholeFile(log, text);

    DWORD start = GetTickCount();
    Followed followed = RunFollowed(Command(true), install);
    ASSERT_TRUE(followed.run.finished);
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_NE(followed.copyExitCode, 99u) << "the copy never ran";
    EXPECT_FALSE(Exists(install + "\\murm.chm"));
    EXPECT_TRUE(Exists(install + "\\MurmList.exe")) << "a file the log does not name";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UninstallEntry())) << "an entry the log does not name";
    EXPECT_TRUE(Exists(group));
}

// The copy's folder: the user, the Administrators and SYSTEM, nobody else,
// nothing inherited from the temporary folder.
TEST(PrivateFolder, LetsInOnlyTheUserTheAdministratorsAndSystem)
{
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    union {
        TOKEN_USER user;
        char bytes[256];
    } info;
    DWORD length;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, &info, sizeof info, &length));
    CloseHandle(token);
    char* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(info.user.User.Sid, &sid));
    const std::string user = sid;
    LocalFree(sid);

    char sddl[256];
    ASSERT_TRUE(DescribePrivateFolderAccess(sddl, sizeof sddl));
    EXPECT_EQ(std::string(sddl), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + ")");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl);
    EXPECT_EQ(acl->AceCount, 3);
    LocalFree(descriptor);
    // Too small a buffer is refused, never overrun.
    EXPECT_FALSE(DescribePrivateFolderAccess(sddl, 40));
}

}  // namespace

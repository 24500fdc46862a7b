// What the end-to-end tests share: the wizard's captions and texts as the
// user sees them, starting setup.exe, and walking from page to page.
#ifndef MURM_WIZARD_SUPPORT_H
#define MURM_WIZARD_SUPPORT_H

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../../core/running.h"
#include "../../resources/ids.h"
#include "uidriver.h"

namespace wiz {

const wchar_t WELCOME[] = L"Добро пожаловать";
const wchar_t AGREEMENT[] = L"Лицензионное соглашение";
const wchar_t DESTINATION[] = L"Выбор каталога для установки";
const wchar_t GROUP[] = L"Выбор группы программ";
const wchar_t COPYING[] = L"Копирование файлов ...";
const wchar_t SHORTCUTS[] = L"Создание ярлыков ...";
const wchar_t FINISH[] = L"Завершение установки";

const wchar_t EXIT_CAPTION[] = L"Выход из установки";
const wchar_t EXIT_QUESTION[] =
    L"Программа установки еще не завершила свою работу.\n"
    L"Если Вы выйдите сейчас, программа не будет установлена.\n"
    L"Выйти из установки?";
const wchar_t ERROR_CAPTION[] = L"Ошибка";
const wchar_t CANNOT_CREATE[] = L"Невозможно создать каталог\n";
const wchar_t BAD_GROUP_NAME[] =
    L"Имя группы не должно содержать следующих символов:\n < > \\ / : \" ? * |";
const wchar_t PATH_TOO_LONG[] = L"Слишком длинный путь к каталогу:\n";
const wchar_t BLANK_FOLDER[] = L"Имя каталога не может состоять только из пробелов и точек.";
const wchar_t BLANK_GROUP[] = L"Имя группы не может состоять только из пробелов и точек.";
const wchar_t RESERVED_NAME[] = L"Имя зарезервировано системой и не может быть использовано:\n";
const wchar_t ALREADY_RUNNING[] = L"Уже идет установка или удаление Murmelist.";

// The destination page's refusal of a folder below which some installed
// file's path would pass 259 characters; name is the longest such file.
inline std::wstring FolderTooLong(const std::wstring& folder, const std::wstring& name)
{
    return PATH_TOO_LONG + folder + L"\nПуть к файлу в нем был бы длиннее 259 символов:\n" +
           folder + L"\\" + name;
}

// An installation never takes this long, pauses included.
const int INSTALL_MS = 60000;

inline std::wstring SetupExe() { return ui::HostPath(SETUP_EXE); }
inline std::wstring SourcePath(const char* relative)
{
    return ui::HostPath(SOURCE_DIR) + L"\\" + ui::Widen(relative);
}
inline std::wstring BuildPath(const std::wstring& relative)
{
    return ui::HostPath(BUILD_DIR) + L"\\" + relative;
}

// A name no other test and no earlier run uses: tests run in parallel in
// one prefix, and each gets its own folders and group names.
inline std::wstring UniqueName(const std::wstring& stem)
{
    static int counter = 0;
    return stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount() % 100000) + L"-" + std::to_wstring(++counter);
}

inline std::wstring SpecialFolder(int id)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, path, id, FALSE);
    return path;
}

// Wine mirrors every shortcut saved in a prefix into the Linux user's own
// menus, outside the prefix; a process started with this override does not.
inline ui::EnvChange NoHostMenus()
{
    wchar_t value[1024] = L"";
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", value, 1024);
    std::wstring overrides = value;
    if (!overrides.empty()) overrides += L";";
    return {L"WINEDLLOVERRIDES", overrides + L"winemenubuilder.exe=d"};
}

// Starts setup.exe with the given environment changes; the test fails at
// once when it cannot start or its first page does not appear.
inline HWND StartSetup(ui::Process* setup, const std::vector<ui::EnvChange>& environment = {},
                       const std::wstring& currentDirectory = L"",
                       const std::wstring& program = SetupExe())
{
    ui::Launch launch;
    launch.program = program;
    launch.environment = environment;
    // A 64-bit process that Wine starts takes its ProgramFiles from the
    // ProgramW6432 of the environment block it is given, whatever the
    // block's ProgramFiles says. Without ProgramW6432 the block's own
    // ProgramFiles (or its absence) holds, as it does for 32-bit processes.
    for (const ui::EnvChange& change : environment)
        if (_wcsicmp(change.name.c_str(), L"ProgramFiles") == 0)
            launch.environment.push_back({L"ProgramW6432", L"", true});
    launch.environment.push_back(NoHostMenus());
    launch.currentDirectory = currentDirectory;
    std::wstring error;
    EXPECT_TRUE(ui::Start(launch, setup, &error)) << ui::Narrow(error);
    if (!setup->handle) return nullptr;
    HWND page = ui::WaitForPage(setup->id, WELCOME);
    EXPECT_TRUE(page) << "the welcome page did not appear";
    return page;
}

// Presses a button that ends the page and returns the page that follows.
inline HWND PressAndWaitFor(const ui::Process& setup, HWND page, int button,
                            const std::wstring& nextCaption, int timeoutMs = ui::WAIT_MS)
{
    EXPECT_TRUE(ui::Click(page, button)) << "button " << button << " cannot be pressed";
    HWND next = ui::WaitForPage(setup.id, nextCaption, timeoutMs);
    EXPECT_TRUE(next) << "page \"" << ui::Narrow(nextCaption) << "\" did not appear";
    return next;
}

inline bool Accept(HWND agreement)
{
    return ui::ClickNow(agreement, IDC_ACCEPT) &&
           ui::WaitUntil([&] { return ui::IsEnabled(agreement, IDC_NEXT); }, 3000);
}

// From the welcome page to the destination page.
inline HWND WalkToDestination(const ui::Process& setup, HWND welcome)
{
    if (!welcome) return nullptr;
    HWND agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    if (!agreement || !Accept(agreement)) return nullptr;
    return PressAndWaitFor(setup, agreement, IDC_NEXT, DESTINATION);
}

// From the destination page, with folder typed into the box, to the group
// page.
inline HWND WalkToGroup(const ui::Process& setup, HWND destination, const std::wstring& folder)
{
    if (!destination) return nullptr;
    EXPECT_TRUE(ui::SetControlText(destination, IDC_DEST_DIR, folder));
    return PressAndWaitFor(setup, destination, IDC_NEXT, GROUP);
}

// Leaves the wizard through the exit question, and checks it ends with 0.
inline void LeaveWizard(const ui::Process& setup, HWND page)
{
    ASSERT_TRUE(ui::Click(page, IDC_CANCEL));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box));
    ASSERT_EQ(box.caption, EXIT_CAPTION);
    ASSERT_TRUE(ui::Answer(box.window, IDYES));
    DWORD code = 1;
    ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, 0u);
}

// ---- Installing ----

struct Question {
    ui::MessageBoxInfo box;
    std::wstring pageCaption;  // the copying page's title while it asks
};

using Answerer = std::function<int(const ui::MessageBoxInfo&)>;

inline int AlwaysYes(const ui::MessageBoxInfo&) { return IDYES; }

// From the group page's Next to the finish page: every question on the
// way is recorded and answered. Null when the finish page never came.
inline HWND RunCopying(const ui::Process& setup, HWND group, const Answerer& answer,
                std::vector<Question>* questions)
{
    EXPECT_TRUE(ui::Click(group, IDC_NEXT));
    HWND finish = nullptr;
    bool ok = ui::WaitUntil(
        [&] {
            if ((finish = ui::FindPage(setup.id, FINISH)) != nullptr) return true;
            HWND found = ui::FindMessageBox(setup.id);
            if (!found) return false;
            Question question;
            if (!ui::ReadWholeMessageBox(found, &question.box)) return false;
            question.pageCaption = ui::WindowText(question.box.owner);
            if (questions) questions->push_back(question);
            ui::Answer(found, answer(question.box));
            return false;
        },
        INSTALL_MS);
    EXPECT_TRUE(ok) << "the finish page did not appear";
    return finish;
}

// Walks a fresh setup from its first page into the finish page.
inline HWND Install(const ui::Process& setup, HWND welcome, const std::wstring& folder,
             const std::wstring& group, const Answerer& answer = AlwaysYes,
             std::vector<Question>* questions = nullptr)
{
    HWND page = WalkToGroup(setup, WalkToDestination(setup, welcome), folder);
    if (!page) return nullptr;
    EXPECT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, group));
    return RunCopying(setup, page, answer, questions);
}

// The finish page's first line: what became of the installation.
const wchar_t INSTALLED[] = L"Программа успешно установлена на ваш компьютер!";
inline std::wstring Incomplete(int missing)
{
    return L"Установка не завершена, пропущено объектов: " + std::to_wstring(missing);
}
inline std::wstring FinishOutcome(HWND finish)
{
    return ui::WindowText(GetWindow(ui::Control(finish, IDC_FRAME), GW_HWNDNEXT));
}

// The process's exit codes besides 0.
const DWORD EXIT_INCOMPLETE = 2;
const DWORD EXIT_TAKEN_BACK = 3;
const DWORD EXIT_NO_PAGE = 4;
// The setup's and the uninstaller's, when another of them is at work, is
// EXIT_ALREADY_RUNNING (core/running.h).
const wchar_t UNINSTALL_CAPTION[] = L"Удаление программы";

// Starts program (a setup, or an uninstaller with arguments) while another
// program of the product is at work. With a box to show, it says so in that
// one box with caption and shows nothing else; *box is that box, left open.
inline void StartRefused(ui::Process* second, ui::MessageBoxInfo* box, const std::wstring& program,
                         const std::wstring& caption, const std::wstring& arguments = L"")
{
    ui::Launch launch;
    launch.program = program;
    launch.arguments = arguments;
    launch.currentDirectory = L"C:\\";
    launch.environment = {NoHostMenus()};
    std::wstring error;
    ASSERT_TRUE(ui::Start(launch, second, &error)) << ui::Narrow(error);
    if (!box) return;
    ASSERT_TRUE(ui::WaitForMessageBox(second->id, box)) << "no box from " << ui::Narrow(program);
    EXPECT_EQ(box->caption, caption);
    EXPECT_EQ(box->text, ALREADY_RUNNING);
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    EXPECT_EQ(ui::TopLevelWindows(second->id), std::vector<HWND>{box->window}) << "a window besides";
}

// Answers the refused program's box, if it has one: it ends with
// EXIT_ALREADY_RUNNING.
inline void EndRefused(const ui::Process& second, const ui::MessageBoxInfo* box)
{
    if (box) {
        ASSERT_TRUE(ui::Answer(box->window, IDOK));
    }
    DWORD code = 0;
    ASSERT_TRUE(ui::WaitForExit(second, ui::WAIT_MS, &code));
    EXPECT_EQ(code, EXIT_ALREADY_RUNNING);
}

// Both; with quiet, the program shows no box.
inline void ExpectRefused(const std::wstring& program, const std::wstring& caption,
                          const std::wstring& arguments = L"", bool quiet = false)
{
    ui::Process second;
    ui::MessageBoxInfo box;
    ASSERT_NO_FATAL_FAILURE(StartRefused(&second, quiet ? nullptr : &box, program, caption, arguments));
    EndRefused(second, quiet ? nullptr : &box);
}

// Ticks the options and closes the finish page by its button or its close
// box: no question may come, and setup ends with exitCode.
inline void CloseFinish(const ui::Process& setup, HWND finish, const std::vector<int>& options,
                 bool closeBox, DWORD exitCode = 0)
{
    for (int option : options) {
        ASSERT_TRUE(ui::ClickNow(finish, option));
        EXPECT_EQ(ui::ButtonState(finish, option) & BST_CHECKED, BST_CHECKED);
    }
    ASSERT_TRUE(closeBox ? ui::Close(finish) : ui::Click(finish, IDC_NEXT));
    DWORD code = 1;
    bool ended = ui::WaitUntil([&] { return !ui::IsRunning(setup) || ui::FindMessageBox(setup.id); });
    ASSERT_TRUE(ended) << "setup did not end";
    ASSERT_FALSE(ui::FindMessageBox(setup.id)) << "the finish page asked a question";
    ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, exitCode);
}

// ---- What an installation leaves behind ----

// The package's payload, in archive order, as the build assembled it.
inline const std::vector<std::wstring>& PayloadNames()
{
    static const std::vector<std::wstring> names = {L"MurmList.exe", L"murm.chm", L"settings.ini",
                                                    L"Base2.vdb", L"uninst.exe"};
    return names;
}
inline std::string PackageFile(const std::wstring& name)
{
    std::string bytes;
    EXPECT_TRUE(ui::ReadFileBytes(BuildPath(L"package\\" + name), &bytes))
        << "package file " << ui::Narrow(name);
    return bytes;
}
inline std::string InstalledFile(const std::wstring& folder, const std::wstring& name)
{
    std::string bytes;
    ui::ReadFileBytes(folder + L"\\" + name, &bytes);
    return bytes;
}

// One line of setup.log: a section header (key empty) or key=value.
struct LogLine {
    std::wstring section;
    std::wstring key;
    std::wstring value;
    bool operator==(const LogLine& other) const
    {
        return section == other.section && key == other.key && value == other.value;
    }
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line)
{
    return out << "[" << ui::Narrow(line.section) << "] " << ui::Narrow(line.key) << "="
               << ui::Narrow(line.value);
}

// Reads setup.log raw: Windows-1251, CR LF line ends, blank lines allowed
// between sections. Every key line comes back with the section it is in.
inline std::vector<LogLine> ReadLog(const std::wstring& folder, std::string* raw = nullptr)
{
    std::vector<LogLine> lines;
    std::string bytes;
    if (!ui::ReadFileBytes(folder + L"\\setup.log", &bytes)) {
        ADD_FAILURE() << "no setup.log in " << ui::Narrow(folder);
        return lines;
    }
    if (raw) *raw = bytes;
    std::wstring section;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "the log's last line has no CR LF";
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        start = end + 2;
        EXPECT_EQ(line.find('\n'), std::string::npos) << "a line ends without CR: " << line;
        if (line.empty()) continue;
        std::wstring text = ui::FromCodePage(line, 1251);
        if (text.front() == L'[' && text.back() == L']') {
            section = text.substr(1, text.size() - 2);
            lines.push_back({section, L"", L""});
            continue;
        }
        size_t sign = text.find(L'=');
        EXPECT_NE(sign, std::wstring::npos) << "not a key line: " << ui::Narrow(text);
        if (sign == std::wstring::npos) continue;
        lines.push_back({section, text.substr(0, sign), text.substr(sign + 1)});
    }
    return lines;
}

// The value of a key; *found tells whether it was there.
inline std::wstring LogValue(const std::vector<LogLine>& log, const std::wstring& section,
                             const std::wstring& key, bool* found = nullptr)
{
    for (const LogLine& line : log)
        if (line.section == section && line.key == key) {
            if (found) *found = true;
            return line.value;
        }
    if (found) *found = false;
    return std::wstring();
}

inline bool LogHas(const std::vector<LogLine>& log, const std::wstring& section,
                   const std::wstring& key)
{
    bool found = false;
    LogValue(log, section, key, &found);
    return found;
}

// Every section once and every key once in its section.
inline void ExpectNoDuplicates(const std::vector<LogLine>& log)
{
    for (size_t i = 0; i < log.size(); ++i)
        for (size_t j = i + 1; j < log.size(); ++j)
            EXPECT_FALSE(log[i].section == log[j].section && log[i].key == log[j].key)
                << "twice in the log: " << log[j];
}

struct Shortcut {
    bool read = false;
    std::wstring target;
    std::wstring workingDirectory;
};

// Reads a .lnk through the shell's link object, as the shell itself would.
inline Shortcut ReadShortcut(const std::wstring& path)
{
    Shortcut result;
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void**)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        char target[MAX_PATH] = "", folder[MAX_PATH] = "";
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(folder, MAX_PATH);
        result.read = true;
        result.target = ui::FromCodePage(target, CP_ACP);
        result.workingDirectory = ui::FromCodePage(folder, CP_ACP);
    }
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return result;
}

// Paths compare as the file system compares them, without regard to case.
inline bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) ==
           CSTR_EQUAL;
}

inline bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// A string value of the registry (null name: the key's default value);
// *found tells whether it exists.
inline std::wstring RegistryText(HKEY root, const std::wstring& key, const wchar_t* name,
                                 bool* found = nullptr)
{
    wchar_t data[1024] = L"";
    DWORD size = sizeof data;
    bool ok = RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) ==
              ERROR_SUCCESS;
    if (found) *found = ok;
    return ok ? std::wstring(data) : std::wstring();
}

inline bool RegistryKeyExists(HKEY root, const std::wstring& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

const wchar_t UNINSTALL_ENTRY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Murmelist";

// The uninstaller's report once its writer has closed it (it is written
// last, so the uninstaller has then finished); false when that did not come
// within timeoutMs. Opening it without sharing succeeds only then.
inline bool ReadFinishedReport(const std::wstring& path, std::wstring* report, int timeoutMs = 30000)
{
    std::string bytes;
    bool done = ui::WaitUntil(
        [&] {
            HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return false;
            CloseHandle(file);
            return ui::ReadFileBytes(path, &bytes);
        },
        timeoutMs);
    if (report) *report = ui::FromCodePage(bytes, 1251);
    return done;
}

// Runs the installed uninstaller without questions and waits for its
// report (it hands its work to a copy of itself, so the report is what
// says that it has finished). False when it never came.
inline bool RunUninstaller(const std::wstring& folder, const std::wstring& reportPath,
                           std::wstring* report)
{
    DeleteFileW(reportPath.c_str());
    ui::Launch launch;
    launch.program = folder + L"\\uninst.exe";
    launch.arguments = L"/quiet \"/report:" + reportPath + L"\"";
    launch.currentDirectory = L"C:\\";
    ui::Process uninstaller;
    std::wstring error;
    if (!ui::Start(launch, &uninstaller, &error)) {
        ADD_FAILURE() << ui::Narrow(error);
        return false;
    }
    bool done = ReadFinishedReport(reportPath, report);
    DeleteFileW(reportPath.c_str());
    // The report is written last, yet the copy still holds the one lock of
    // the machine until it has ended: a setup started before that would be
    // refused.
    return done && ui::WaitUntil([] {
               HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, RUNNING_OBJECT_NAME);
               if (lock) CloseHandle(lock);
               return !lock;
           });
}

inline void RemoveTree(const std::wstring& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

// Removes what a test made, whether or not it got to the end.
struct Leftovers {
    std::vector<std::wstring> paths;
    ~Leftovers()
    {
        for (const std::wstring& path : paths) RemoveTree(path);
    }
};

// The names in folder that begin with stem: what a test made there, when
// every name it uses begins with its own unique stem.
inline std::vector<std::wstring> EntriesStartingWith(const std::wstring& folder,
                                                     const std::wstring& stem)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name.compare(0, stem.size(), stem) == 0) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// A folder of the test's own on C:, made once; tests put their
// installation folders one level below it.
inline std::wstring TestRoot()
{
    static const std::wstring root = L"C:\\murm-e2e";
    CreateDirectoryW(root.c_str(), nullptr);
    return root;
}

// ---- The machine before and after ----

const wchar_t FILE_CLASS[] = L"VarazAzadEvuz";

// What an installation into folder with that program group leaves outside
// the folder, and the folder itself.
struct Places {
    std::wstring folder;
    std::wstring group;
    std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group;
    std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Murmelist.lnk";

    explicit Places(const wchar_t* stem, const std::wstring& groupName = UniqueName(L"Group"))
        : folder(TestRoot() + L"\\" + UniqueName(stem)), group(groupName)
    {
    }

    // Everything that tells an installation, by name; empty when none.
    std::vector<std::wstring> Present() const
    {
        std::vector<std::wstring> present;
        for (const std::wstring& path : {folder, groupFolder, startupLink, desktopLink})
            if (Exists(path)) present.push_back(path);
        if (RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY))
            present.push_back(std::wstring(L"HKLM\\") + UNINSTALL_ENTRY);
        for (const std::wstring& key : {std::wstring(L".vdb"), std::wstring(FILE_CLASS)})
            if (RegistryKeyExists(HKEY_CLASSES_ROOT, key)) present.push_back(L"HKCR\\" + key);
        return present;
    }
    void Clear() const
    {
        RemoveTree(folder);
        RemoveTree(groupFolder);
        DeleteFileW(startupLink.c_str());
        DeleteFileW(desktopLink.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".vdb");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, FILE_CLASS);
    }
};

inline std::string Listed(const std::vector<std::wstring>& items)
{
    std::string text;
    for (const std::wstring& item : items) text += "\n  " + ui::Narrow(item);
    return text.empty() ? " nothing" : text;
}

// The folder of the uninstaller the uninstall entry names; empty without
// an entry.
inline std::wstring EntryFolder()
{
    std::wstring command = RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString");
    if (command.size() > 2 && command.front() == L'"') command = command.substr(1, command.size() - 2);
    return command.substr(0, command.rfind(L'\\'));
}

// The system's list of renames at the next restart, as pairs of NT paths
// (\??\C:\...); an empty target means the source is deleted.
using Renames = std::vector<std::pair<std::wstring, std::wstring>>;

const wchar_t SESSION_MANAGER[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PENDING[] = L"PendingFileRenameOperations";

inline bool IsBelow(const std::wstring& ntPath, const std::wstring& folder)
{
    std::wstring prefix = L"\\??\\" + folder;
    return ntPath.size() >= prefix.size() && SamePath(ntPath.substr(0, prefix.size()), prefix) &&
           (ntPath.size() == prefix.size() || ntPath[prefix.size()] == L'\\');
}

// The renames below folder (every one with an empty folder); with forget,
// they are also taken out of the list, and only they: other programs may
// add to it meanwhile.
inline Renames RenamesBelow(const std::wstring& folder, bool forget = false)
{
    Renames below, kept;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return below;
    DWORD type = 0, size = 0;
    RegQueryValueExW(key, PENDING, nullptr, &type, nullptr, &size);
    // Two NULs more than the value, so that a cut-off value still ends.
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (type == REG_MULTI_SZ &&
        RegQueryValueExW(key, PENDING, nullptr, nullptr, (BYTE*)data.data(), &size) == ERROR_SUCCESS) {
        for (const wchar_t* p = data.data(); *p;) {
            std::wstring source = p;
            std::wstring target = p + source.size() + 1;
            p += source.size() + target.size() + 2;
            (folder.empty() || IsBelow(source, folder) ? below : kept).push_back({source, target});
        }
    }
    if (forget && !below.empty()) {
        std::wstring value;
        for (const auto& rename : kept) value += rename.first + L'\0' + rename.second + L'\0';
        value += L'\0';
        if (kept.empty())
            RegDeleteValueW(key, PENDING);
        else
            RegSetValueExW(key, PENDING, 0, REG_MULTI_SZ, (const BYTE*)value.data(),
                           (DWORD)(value.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    return below;
}

}  // namespace wiz

#endif

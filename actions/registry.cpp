// Registry entries: the uninstall entry that lists the product among the
// installed programs, and the ".vdb" file type. Each is described in
// setup.log first, so that the uninstaller can remove it again whatever
// moment the setup is ended at, and then written whole or not at all.
#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
static const REGSAM REGISTRY_ACCESS = 0x2001F;
static const int MAX_ITEM_KEYS = 6;

// One string value of an item: the key it goes into (an index into the
// item's keys), its name (null for the key's default value) and its data.
struct RegistryValue {
    int key;
    const char* name;
    const char* data;
};

// A group of keys below one root, written whole or not at all.
struct RegistryItem {
    HKEY root;
    const char* rootName;  // as the registry editor shows it, for messages
    const char* const* keys;
    int keyCount;
    const RegistryValue* values;
    int valueCount;
};

// Creates the item's keys below its root, parents first, and sets its
// values. Where a key or a value cannot be written, the keys this attempt
// made are taken away again (so that no key stays without the value it is
// for) and the user is asked, with the key named; Retry writes the whole
// item again. True when the item is complete, false once the user chose
// Cancel.
static bool WriteRegistryItem(const RegistryItem& item)
{
    for (;;) {
        HKEY opened[MAX_ITEM_KEYS];
        unsigned made = 0;
        const char* problem = 0;
        const char* failedKey = 0;
        int i = 0;
        for (; i < item.keyCount; ++i) {
            DWORD disposition;
            if (RegCreateKeyExA(item.root, item.keys[i], 0, 0, REG_OPTION_NON_VOLATILE,
                                REGISTRY_ACCESS, 0, &opened[i], &disposition) != ERROR_SUCCESS) {
                problem = TEXT_CANNOT_MAKE_KEY;
                failedKey = item.keys[i];
                break;
            }
            made |= (disposition == REG_CREATED_NEW_KEY) << i;
        }
        // A REG_SZ with its terminating NUL counted in the size. Data that
        // would not fit its path was never joined, and is not written.
        for (int v = 0; v < item.valueCount && !problem; ++v) {
            const RegistryValue& value = item.values[v];
            if (!value.data[0] ||
                RegSetValueExA(opened[value.key], value.name, 0, REG_SZ, (const BYTE*)value.data,
                               (DWORD)strlen(value.data) + 1) != ERROR_SUCCESS) {
                problem = TEXT_CANNOT_SET_VALUE;
                failedKey = item.keys[value.key];
            }
        }
        // Only the keys opened: the one that failed was not.
        while (--i >= 0) {
            RegCloseKey(opened[i]);
            if (problem && made >> i & 1)
                RegDeleteKeyA(item.root, item.keys[i]);
        }
        if (!problem)
            return true;
        if (ShowProblem(GetActiveWindow(), MB_RETRYCANCEL, problem, item.rootName, failedKey) !=
            IDRETRY)
            return false;
    }
}

// The values built at run time; here so that the item tables can name
// them.
static char s_uninstallKey[LONG_PATH_SIZE];
static char s_displayName[PATH_SIZE];
static char s_uninstallCommand[LONG_PATH_SIZE];
static char s_icon[LONG_PATH_SIZE];
static char s_openCommand[LONG_PATH_SIZE];

static const char* const UNINSTALL_KEYS[] = {s_uninstallKey};
static const RegistryValue UNINSTALL_VALUES[] = {
    {0, "DisplayName", s_displayName},
    {0, "UninstallString", s_uninstallCommand},
};
static const RegistryItem UNINSTALL_ENTRY = {
    HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", UNINSTALL_KEYS, 1, UNINSTALL_VALUES, 2};
static const char* const UNINSTALL_LOG[] = {
    LOG_COUNT, "3", LOG_DIR, UNINSTALL_KEY, LOG_SUB_KEY, s_displayName,
    LOG_KEY "1", "DisplayName", LOG_KEY "2", "UninstallString", 0,
};

// Logged, then written; given up, it leaves no section behind.
static void RegisterItem(const char* section, const char* const* log, const RegistryItem& item)
{
    if (LogWriteList(section, log) && WriteRegistryItem(item))
        return;
    LogForget(section, 0);
    ++g_setup.missingCount;
}

void RegisterUninstall()
{
    const char* name = g_setup.displayName;
    // An empty name would make the Uninstall key itself the product's key,
    // and the uninstaller would then remove the whole list of programs.
    if (!name || !name[0])
        return;
    JoinText(s_uninstallKey, LONG_PATH_SIZE, UNINSTALL_KEY, "\\", name);
    CopyString(s_displayName, name);
    // Quoted, or a folder with a space would start C:\Program.exe first.
    // No entry names an uninstaller that is not there (a package without
    // one): it could only fail the user who chooses it.
    char path[PATH_SIZE];
    s_uninstallCommand[0] = 0;
    if (JoinPath(path, g_setup.installFolder, g_setup.uninstallerName) && IsFile(path))
        JoinText(s_uninstallCommand, LONG_PATH_SIZE, "\"", path, "\"");
    if (s_uninstallCommand[0])
        RegisterItem(LOG_REG_UNINST, UNINSTALL_LOG, UNINSTALL_ENTRY);
    else
        ++g_setup.missingCount;
}

// The extension comes last: it points at the class only once the class is
// complete, so that a file type given up half-way leaves .vdb as it was.
static const char* const FILE_TYPE_KEYS[] = {
    FILE_CLASS,
    FILE_CLASS "\\DefaultIcon",
    FILE_CLASS "\\shell",
    FILE_CLASS "\\shell\\open",
    FILE_CLASS "\\shell\\open\\command",
    FILE_EXTENSION,
};
static const RegistryValue FILE_TYPE_VALUES[] = {
    {1, 0, s_icon},
    {4, 0, s_openCommand},
    {5, 0, FILE_CLASS},
};
static const RegistryItem FILE_TYPE = {
    HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT\\", FILE_TYPE_KEYS, 6, FILE_TYPE_VALUES, 3};
// Every key before its parent when read by number, as the uninstaller
// removes them.
static const char* const FILE_TYPE_LOG[] = {
    LOG_COUNT, "6",
    LOG_DIR "1", "",
    LOG_SUB "1", FILE_EXTENSION,
    LOG_DIR "6", "",
    LOG_SUB "6", FILE_CLASS,
    LOG_SUB "5", "DefaultIcon",
    LOG_DIR "4", FILE_CLASS,
    LOG_DIR "5", FILE_CLASS,
    LOG_SUB "4", "shell",
    LOG_DIR "3", FILE_CLASS "\\shell",
    LOG_SUB "3", "open",
    LOG_DIR "2", FILE_CLASS "\\shell\\open",
    LOG_SUB "2", "command",
    0,
};

void RegisterFileType()
{
    char program[PATH_SIZE];
    s_icon[0] = s_openCommand[0] = 0;
    // Both parts of the command quoted: the program's path may hold a
    // space, and so may the document's.
    if (JoinStrings(program, g_setup.installFolder, PRODUCT_PROGRAM)) {
        JoinText(s_icon, LONG_PATH_SIZE, program, ",1");
        JoinText(s_openCommand, LONG_PATH_SIZE, "\"", program, "\" \"%1\"");
    }
    RegisterItem(LOG_REG_CLASS, FILE_TYPE_LOG, FILE_TYPE);
}

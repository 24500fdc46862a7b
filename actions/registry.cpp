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

// The paths of the item's keys below its root, by the numbers the log gives
// them: every key has a higher number than the keys below it. Each row
// holds its path behind a backslash, the one that JoinPath puts between a
// parent's path and a key's name, so that a key's path is joined to its
// parent's row as it stands; KEY_PATH skips it. Number 0 stays empty, the
// root itself. A path takes up to LONG_PATH_SIZE bytes behind its
// backslash; the row's size is a power of two so that a row is found by a
// shift.
static char s_keys[MAX_ITEM_KEYS + 1][1024];
static_assert(sizeof s_keys[0] > LONG_PATH_SIZE, "a key's row holds a long path");
#define KEY_PATH(n) (s_keys[n] + 1)

// One string value of an item: the number of the key it goes into, its
// name (null for the key's default value) and its data.
struct RegistryValue {
    int key;
    const char* name;
    const char* data;
};

// A group of keys below one root, written whole or not at all: the keys 1
// to keyCount of s_keys, and their values.
struct RegistryItem {
    HKEY root;
    const char* rootName;  // as the registry editor shows it, for messages
    int keyCount;
    const RegistryValue* values;
    const RegistryValue* valuesEnd;
};

// Sets the item's values in its opened keys. Null when all are set, else
// the problem, with the number of the key in *failed.
// A key as this attempt opened it, and whether it made it.
struct OpenedKey {
    HKEY key;
    DWORD disposition;
};

static const char* SetValues(const RegistryItem& item, const OpenedKey* opened, int* failed)
{
    for (const RegistryValue* value = item.values; value < item.valuesEnd; ++value) {
        // A REG_SZ with its terminating NUL counted in the size. Data that
        // would not fit its path was never joined, and is not written.
        *failed = value->key;
        if (!value->data[0] ||
            RegSetValueExA(opened[value->key].key, value->name, 0, REG_SZ, (const BYTE*)value->data,
                           (DWORD)strlen(value->data) + 1) != ERROR_SUCCESS)
            return TEXT_CANNOT_SET_VALUE;
    }
    return 0;
}

// Creates the item's keys below its root, parents first, and sets its
// values. Where a key or a value cannot be written, the keys this attempt
// made are taken away again (so that no key stays without the value it is
// for) and the user is asked, with the key named; Retry writes the whole
// item again. True when the item is complete, false once the user chose
// Cancel.
static bool WriteRegistryItem(const RegistryItem& item)
{
    for (;;) {
        OpenedKey opened[MAX_ITEM_KEYS + 1];
        const char* problem = 0;
        int failed = 0;
        int n = item.keyCount;
        for (; n > 0; --n) {
            if (RegCreateKeyExA(item.root, KEY_PATH(n), 0, 0, REG_OPTION_NON_VOLATILE,
                                REGISTRY_ACCESS, 0, &opened[n].key,
                                &opened[n].disposition) != ERROR_SUCCESS) {
                problem = TEXT_CANNOT_MAKE_KEY;
                failed = n;
                break;
            }
        }
        if (!problem)
            problem = SetValues(item, opened, &failed);
        // Only the keys opened: the one that failed was not.
        while (++n <= item.keyCount) {
            RegCloseKey(opened[n].key);
            if (problem && opened[n].disposition == REG_CREATED_NEW_KEY)
                RegDeleteKeyA(item.root, KEY_PATH(n));
        }
        if (!problem)
            return true;
        if (ShowProblem(GetActiveWindow(), MB_RETRYCANCEL, TEXT_CANNOT, problem, item.rootName,
                        KEY_PATH(failed)) != IDRETRY)
            return false;
    }
}

// Written whole once logged; given up, it leaves no section behind.
static void RegisterItem(const char* section, bool logged, const RegistryItem& item)
{
    if (logged && WriteRegistryItem(item))
        return;
    LogForget(section, 0);
    ++g_setup.missingCount;
}

// The values built at run time; here so that the item tables can name
// them.
static char s_uninstallCommand[LONG_PATH_SIZE];
static char s_icon[LONG_PATH_SIZE];
static char s_openCommand[LONG_PATH_SIZE];

// The Uninstall key, and the display name as the uninstall key's path ends
// in it.
static const char UNINSTALL_PATH[] = "\\" UNINSTALL_KEY;
static const char* const s_displayName = s_keys[1] + sizeof UNINSTALL_PATH;

static const RegistryValue UNINSTALL_VALUES[] = {
    {1, "DisplayName", s_displayName},
    {1, "UninstallString", s_uninstallCommand},
};
static const RegistryItem UNINSTALL_ENTRY = {
    HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", 1, UNINSTALL_VALUES, UNINSTALL_VALUES + 2};
static const char* const UNINSTALL_LOG[] = {
    LOG_COUNT, "3", LOG_DIR, UNINSTALL_PATH + 1, LOG_SUB_KEY, s_displayName,
    LOG_KEY "1", "DisplayName", LOG_KEY "2", "UninstallString", 0,
};

void RegisterUninstall()
{
    const char* name = g_setup.displayName;
    // An empty name would make the Uninstall key itself the product's key,
    // and the uninstaller would then remove the whole list of programs.
    if (!name || !name[0])
        return;
    // No entry names an uninstaller that is not there (a package without
    // one): it could only fail the user who chooses it. Nor is there one
    // for a name too long to join to its key's path: the Uninstall key
    // itself would stand in for that.
    char path[PATH_SIZE];
    if (!JoinText(s_keys[1], LONG_PATH_SIZE + 1, UNINSTALL_PATH, "\\", name) ||
        !JoinPath(path, g_setup.installFolder, g_setup.uninstallerName) || !IsFile(path)) {
        ++g_setup.missingCount;
        return;
    }
    // Quoted, or a folder with a space would start C:\Program.exe first.
    JoinText(s_uninstallCommand, LONG_PATH_SIZE, "\"", path, "\"");
    bool logged = true;
    for (const char* const* pair = UNINSTALL_LOG; *pair && logged; pair += 2)
        logged = LogWrite(LOG_REG_UNINST, pair[0], pair[1]);
    RegisterItem(LOG_REG_UNINST, logged, UNINSTALL_ENTRY);
}

// The file type's keys: its class, the class's keys and the extension, by
// the numbers the log gives them. The extension has the lowest number and
// so is made last: it points at the class only once the class is complete,
// so that a file type given up half-way leaves .vdb as it was.
static const RegistryValue FILE_TYPE_VALUES[] = {
    {5, 0, s_icon},
    {2, 0, s_openCommand},
    {1, 0, KEY_PATH(6)},
};
static const RegistryItem FILE_TYPE = {
    HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT\\", 6, FILE_TYPE_VALUES, FILE_TYPE_VALUES + 3};

// The log's keys in the order written: for each, its number n, plus 8 for
// Sub<n> (the key's name) rather than Dir<n> (its parent's path), plus 16
// times its parent's number. Read by number, every key comes before its
// parent, as the uninstaller removes them.
static const unsigned char FILE_TYPE_LOG[] = {
    1, 8 + 1, 6, 8 + 6, 8 + 5 + 16 * 6, 4 + 16 * 6, 5 + 16 * 6, 8 + 4 + 16 * 6,
    3 + 16 * 4, 8 + 3 + 16 * 4, 2 + 16 * 3, 8 + 2 + 16 * 3, 0,
};
// The keys' names in the order of their Sub<n> in the log.
static const char FILE_TYPE_NAMES[] =
    FILE_EXTENSION "\0" FILE_CLASS "\0DefaultIcon\0shell\0open\0command";

// The three characters of a log key's prefix as the low bytes of a word,
// which the key's number, a single digit, completes.
#define WORD_OF(prefix) ((prefix)[0] | (prefix)[1] << 8 | (prefix)[2] << 16)
static_assert(sizeof LOG_DIR == 4 && sizeof LOG_SUB == 4, "the prefixes are of three characters");

// Not inlined into the finish page, its one caller: that would move it
// behind the resources with the page's code.
__attribute__((noinline)) void RegisterFileType()
{
    // Both parts of the command quoted: the program's path may hold a
    // space, and so may the document's. Each value is sized so that it
    // holds the program's path only when that fits a path: otherwise both
    // are left empty, and are not written.
    JoinText(s_icon, PATH_SIZE + 2, g_setup.installFolder, PRODUCT_PROGRAM, ",1");
    JoinText(s_openCommand, PATH_SIZE + 7, "\"", g_setup.installFolder, PRODUCT_PROGRAM,
             "\" \"%1\"");
    // Each key's path is made as its name is logged, after its parent's.
    const char* name = FILE_TYPE_NAMES;
    bool logged = LogWriteNumber(LOG_REG_CLASS, LOG_COUNT, FILE_TYPE.keyCount);
    for (const unsigned char* entry = FILE_TYPE_LOG; *entry && logged; ++entry) {
        const unsigned n = *entry & 7;
        const int parent = *entry >> 4;
        const char* value = KEY_PATH(parent);
        // Dir<n> or Sub<n> as one word, its characters in memory order.
        uint32_t key[2] = {('0' + n) << 24 | WORD_OF(LOG_DIR)};
        if (*entry & 8) {
            JoinPath(s_keys[n], s_keys[parent], name);
            value = name;
            name += strlen(name) + 1;
            key[0] ^= WORD_OF(LOG_DIR) ^ WORD_OF(LOG_SUB);
        }
        logged = LogWrite(LOG_REG_CLASS, (const char*)key, value);
    }
    RegisterItem(LOG_REG_CLASS, logged, FILE_TYPE);
}

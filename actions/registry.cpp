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

// Rows of text, each a power of two in size so that a row is found by a
// shift. First the paths of the item's keys below its root, by the numbers
// the log gives them: every key has a higher number than the keys below it.
// Each of these rows holds its path behind a backslash, the one that
// JoinPath puts between a parent's path and a key's name, so that a key's
// path is joined to its parent's row as it stands; KEY_PATH skips it. Number
// 0 stays empty, the root itself. Then the values built at run time. A row
// takes up to LONG_PATH_SIZE bytes behind its first.
static char s_rows[MAX_ITEM_KEYS + 4][1024];
static_assert(sizeof s_rows[0] > LONG_PATH_SIZE, "a row holds a long path");
// Out of line: the rows' address is then in one place.
static __attribute__((noinline, const)) char* Row(unsigned n)
{
    return s_rows[n];
}
#define KEY_PATH(n) (Row(n) + 1)
static const int ICON_ROW = MAX_ITEM_KEYS + 1;
static const int OPEN_COMMAND_ROW = MAX_ITEM_KEYS + 2;
static const int UNINSTALL_COMMAND_ROW = MAX_ITEM_KEYS + 3;

// The [RegUninst] entries, key then value, up to an empty key; the empty
// value stands for the display name. The uninstall key's values are named
// by their places here, and so is the empty name of a key's default value.
#define UNINSTALL_LOG_TO_KEY LOG_COUNT "\0" "3\0" LOG_DIR "\0"
#define UNINSTALL_LOG_TO_NAME \
    UNINSTALL_LOG_TO_KEY UNINSTALL_KEY "\0" LOG_SUB_KEY "\0\0" LOG_KEY "1\0"
#define UNINSTALL_LOG_TO_COMMAND UNINSTALL_LOG_TO_NAME "DisplayName\0" LOG_KEY "2\0"
extern const char UNINSTALL_LOG[] = UNINSTALL_LOG_TO_COMMAND "UninstallString\0";
// The keys the rest of the code names by their places here.
constexpr bool Holds(const char* text, const char* key)
{
    return *text == *key && (!*key || Holds(text + 1, key + 1));
}
static_assert(Holds(UNINSTALL_LOG_TO_KEY + (KEY_COUNT - UNINSTALL_LOG), LOG_COUNT) &&
                  Holds(UNINSTALL_LOG_TO_KEY + (KEY_DIR - UNINSTALL_LOG), LOG_DIR) &&
                  Holds(UNINSTALL_LOG_TO_NAME + (KEY_SUB_KEY - UNINSTALL_LOG), LOG_SUB_KEY),
              "n, Dir and SubKey are where the code names them");
static const char* const UNINSTALL_PATH = UNINSTALL_LOG + sizeof UNINSTALL_LOG_TO_KEY - 1;
// The places of the values' names.
static const int DISPLAY_NAME = sizeof UNINSTALL_LOG_TO_NAME - 1;
static const int UNINSTALL_STRING = sizeof UNINSTALL_LOG_TO_COMMAND - 1;
static const int DEFAULT_VALUE = sizeof UNINSTALL_LOG - 1;

// One string value of an item: the number of the key it goes into, its
// name by its place in UNINSTALL_LOG, and its data by its place in s_rows.
struct RegistryValue {
    unsigned char key;
    unsigned char name;
    unsigned short data;
};

// A group of keys below one root, written whole or not at all: the keys 1
// to keyCount of s_rows, and their values, up to one of key 0.
struct RegistryItem {
    HKEY root;
    const char* rootName;  // as the registry editor shows it, for messages
    int keyCount;
    RegistryValue values[4];
};

// A key as this attempt opened it, and whether it made it.
struct OpenedKey {
    HKEY key;
    DWORD disposition;
};

// Sets the item's values in its opened keys. Null when all are set, else
// the problem, with the number of the key in *failed.
static const char* SetValues(const RegistryItem& item, const OpenedKey* opened, int* failed)
{
    for (const RegistryValue* value = item.values; value->key; ++value) {
        // A REG_SZ with its terminating NUL counted in the size. Data that
        // would not fit its path was never joined, and is not written.
        const char* data = s_rows[0] + value->data;
        HOLD_ADDRESS(data);
        *failed = value->key;
        if (!data[0] ||
            RegSetValueExA(opened[value->key].key, UNINSTALL_LOG + value->name, 0, REG_SZ,
                           (const BYTE*)data, (DWORD)strlen(data) + 1) != ERROR_SUCCESS)
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

// The display name, as the uninstall key's path ends in it.
static const int DISPLAY_NAME_DATA = sizeof s_rows[0] + 1 + sizeof UNINSTALL_KEY;

static const RegistryItem UNINSTALL_ENTRY = {
    HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", 1,
    {{1, DISPLAY_NAME, DISPLAY_NAME_DATA},
     {1, UNINSTALL_STRING, UNINSTALL_COMMAND_ROW * sizeof s_rows[0]}}};

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
    if (!JoinText(s_rows[1] + 1, LONG_PATH_SIZE, UNINSTALL_PATH, "\\", name) ||
        !JoinPath(path, g_setup.installFolder, g_setup.uninstallerName) || !IsFile(path)) {
        ++g_setup.missingCount;
        return;
    }
    // Quoted, or a folder with a space would start C:\Program.exe first.
    const char* quote = "\"";
    HOLD_ADDRESS(quote);
    JoinText(s_rows[UNINSTALL_COMMAND_ROW], LONG_PATH_SIZE, quote, path, quote);
    bool logged = true;
    for (const char* text = UNINSTALL_LOG; *text && logged;) {
        const char* key = text;
        text = NextText(text);
        logged = LogWrite(LOG_REG_UNINST, key, *text ? text : s_rows[0] + DISPLAY_NAME_DATA);
        text = NextText(text);
    }
    RegisterItem(LOG_REG_UNINST, logged, UNINSTALL_ENTRY);
}

// The file type's keys: its class, the class's keys and the extension, by
// the numbers the log gives them. The extension has the lowest number and
// so is made last: it points at the class only once the class is complete,
// so that a file type given up half-way leaves .vdb as it was.
static const RegistryItem FILE_TYPE = {
    HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT\\", 6,
    {{5, DEFAULT_VALUE, ICON_ROW * sizeof s_rows[0]},
     {2, DEFAULT_VALUE, OPEN_COMMAND_ROW * sizeof s_rows[0]},
     {1, DEFAULT_VALUE, 6 * sizeof s_rows[0] + 1}}};

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
    const char* folder = g_setup.installFolder;
    HOLD_ADDRESS(folder);
    const char* program = PRODUCT_PROGRAM;
    HOLD_ADDRESS(program);
    JoinText(s_rows[ICON_ROW], PATH_SIZE + 2, folder, program, ",1");
    JoinText(s_rows[OPEN_COMMAND_ROW], PATH_SIZE + 7, "\"", folder, program, "\" \"%1\"");
    // Each key's path is made as its name is logged, after its parent's.
    const char* name = FILE_TYPE_NAMES;
    const char* section = LOG_REG_CLASS;
    HOLD_ADDRESS(section);
    bool logged = LogWriteNumber(section, KEY_COUNT, FILE_TYPE.keyCount);
    for (const unsigned char* entry = FILE_TYPE_LOG; *entry && logged; ++entry) {
        const unsigned n = *entry & 7;
        const int parent = *entry >> 4;
        const char* value = KEY_PATH(parent);
        // Dir<n> or Sub<n> as one word, its characters in memory order.
        uint32_t key[2] = {('0' + n) << 24 | WORD_OF(LOG_DIR)};
        if (*entry & 8) {
            JoinPath(Row(n), Row(parent), name);
            value = name;
            name += strlen(name) + 1;
            key[0] ^= WORD_OF(LOG_DIR) ^ WORD_OF(LOG_SUB);
        }
        logged = LogWrite(section, (const char*)key, value);
    }
    RegisterItem(section, logged, FILE_TYPE);
}

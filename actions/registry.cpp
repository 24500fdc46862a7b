// Registry entries: the uninstall entry that lists the product among the
// installed programs, and the ".vdb" file type. Each is written whole or
// not at all, and then described in setup.log so that the uninstaller can
// remove it again.
#include "core/setup.h"
#include "core/texts.h"

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

// Creates the item's keys below root, parents first, and sets its values.
// Where a key or a value cannot be written, the keys this attempt made are
// taken away again (so that no key stays without the value it is for) and
// the user is asked, with the key named; Retry writes the whole item again.
// True when the item is complete, false once the user chose Cancel.
static bool WriteRegistryItem(HKEY root, const char* rootName, const char* const* keys,
                              int keyCount, const RegistryValue* values, int valueCount)
{
    for (;;) {
        HKEY opened[MAX_ITEM_KEYS] = {};
        bool made[MAX_ITEM_KEYS] = {};
        const char* problem = 0;
        const char* failedKey = 0;
        for (int i = 0; i < keyCount && !problem; ++i) {
            DWORD disposition = 0;
            if (RegCreateKeyExA(root, keys[i], 0, 0, REG_OPTION_NON_VOLATILE, REGISTRY_ACCESS, 0,
                                &opened[i], &disposition) != ERROR_SUCCESS) {
                opened[i] = 0;
                problem = TEXT_CANNOT_MAKE_KEY;
                failedKey = keys[i];
            }
            made[i] = disposition == REG_CREATED_NEW_KEY;
        }
        // A REG_SZ with its terminating NUL counted in the size. Data that
        // would not fit its path was never joined, and is not written.
        for (int i = 0; i < valueCount && !problem; ++i) {
            const RegistryValue& value = values[i];
            if (!value.data[0] ||
                RegSetValueExA(opened[value.key], value.name, 0, REG_SZ, (const BYTE*)value.data,
                               (DWORD)lstrlenA(value.data) + 1) != ERROR_SUCCESS) {
                problem = TEXT_CANNOT_SET_VALUE;
                failedKey = keys[value.key];
            }
        }
        for (int i = keyCount - 1; i >= 0; --i) {
            if (opened[i])
                RegCloseKey(opened[i]);
            if (problem && made[i])
                RegDeleteKeyA(root, keys[i]);
        }
        if (!problem)
            return true;
        char shown[LONG_PATH_SIZE];
        JoinText(shown, LONG_PATH_SIZE, rootName, failedKey);
        if (!AskRetry(GetActiveWindow(), problem, shown))
            return false;
    }
}

void RegisterUninstall()
{
    const char* name = g_setup.displayName;
    // An empty name would make the Uninstall key itself the product's key,
    // and the uninstaller would then remove the whole list of programs.
    if (!name || !name[0])
        return;
    char key[LONG_PATH_SIZE];
    char path[PATH_SIZE];
    char command[LONG_PATH_SIZE];
    JoinText(key, LONG_PATH_SIZE, UNINSTALL_KEY "\\", name);
    // Quoted, or a folder with a space would start C:\Program.exe first.
    if (!JoinPath(path, g_setup.installFolder, g_setup.uninstallerName) ||
        !JoinText(command, LONG_PATH_SIZE, "\"", path, "\""))
        command[0] = 0;
    const char* const keys[] = {key};
    const RegistryValue values[] = {
        {0, "DisplayName", name},
        {0, "UninstallString", command},
    };
    if (!WriteRegistryItem(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\", keys, 1, values, 2))
        return;
    LogWrite("RegUninst", "n", "3");
    LogWrite("RegUninst", "Dir", UNINSTALL_KEY);
    LogWrite("RegUninst", "SubKey", name);
    LogWrite("RegUninst", "Key1", "DisplayName");
    LogWrite("RegUninst", "Key2", "UninstallString");
}

void RegisterFileType()
{
    char program[PATH_SIZE];
    char icon[LONG_PATH_SIZE];
    char command[LONG_PATH_SIZE];
    icon[0] = command[0] = 0;
    // Both parts of the command quoted: the program's path may hold a
    // space, and so may the document's.
    if (JoinStrings(program, g_setup.installFolder, PRODUCT_PROGRAM)) {
        JoinText(icon, LONG_PATH_SIZE, program, ",1");
        JoinText(command, LONG_PATH_SIZE, "\"", program, "\" \"%1\"");
    }
    // The extension comes last: it points at the class only once the class
    // is complete, so that a file type given up half-way leaves .vdb as it
    // was.
    const char* const keys[] = {
        FILE_CLASS,
        FILE_CLASS "\\DefaultIcon",
        FILE_CLASS "\\shell",
        FILE_CLASS "\\shell\\open",
        FILE_CLASS "\\shell\\open\\command",
        FILE_EXTENSION,
    };
    const RegistryValue values[] = {
        {1, 0, icon},
        {4, 0, command},
        {5, 0, FILE_CLASS},
    };
    if (!WriteRegistryItem(HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT\\", keys, 6, values, 3))
        return;

    // Every key before its parent when read by number, as the uninstaller
    // removes them.
    LogWrite("RegClass", "n", "6");
    LogWrite("RegClass", "Dir1", "");
    LogWrite("RegClass", "Sub1", FILE_EXTENSION);
    LogWrite("RegClass", "Dir6", "");
    LogWrite("RegClass", "Sub6", FILE_CLASS);
    LogWrite("RegClass", "Sub5", "DefaultIcon");
    LogWrite("RegClass", "Dir4", FILE_CLASS);
    LogWrite("RegClass", "Dir5", FILE_CLASS);
    LogWrite("RegClass", "Sub4", "shell");
    LogWrite("RegClass", "Dir3", FILE_CLASS "\\shell");
    LogWrite("RegClass", "Sub3", "open");
    LogWrite("RegClass", "Dir2", FILE_CLASS "\\shell\\open");
    LogWrite("RegClass", "Sub2", "command");
}

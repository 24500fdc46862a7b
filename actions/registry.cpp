// Registry entries: the uninstall entry that lists the product among the
// installed programs, and the ".vdb" file type. Each group is described in
// setup.log so that the uninstaller can remove it again.
#include "core/setup.h"
#include "core/texts.h"

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
static const REGSAM REGISTRY_ACCESS = 0x2001F;

// The key below parent, created or opened; 0 when it cannot be, so that
// nothing is written to a key we do not hold.
static HKEY CreateKey(HKEY parent, const char* name)
{
    HKEY key = 0;
    if (!parent || RegCreateKeyExA(parent, name, 0, 0, REG_OPTION_NON_VOLATILE,
                                   REGISTRY_ACCESS, 0, &key, 0) != ERROR_SUCCESS)
        return 0;
    return key;
}

static void CloseKey(HKEY key)
{
    if (key)
        RegCloseKey(key);
}

// A REG_SZ with its terminating NUL counted in the size.
static void SetString(HKEY key, const char* name, const char* data)
{
    if (key)
        RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)data, (DWORD)lstrlenA(data) + 1);
}

void RegisterUninstall()
{
    const char* name = g_setup.displayName;
    // An empty name would make the Uninstall key itself the product's key,
    // and the uninstaller would then remove the whole list of programs.
    if (!name || !name[0])
        return;
    HKEY uninstall = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, REGISTRY_ACCESS, &uninstall) != ERROR_SUCCESS)
        uninstall = 0;
    HKEY product = CreateKey(uninstall, name);

    LogWrite("RegUninst", "n", "3");
    LogWrite("RegUninst", "Dir", UNINSTALL_KEY);
    LogWrite("RegUninst", "SubKey", name);
    LogWrite("RegUninst", "Key1", "DisplayName");
    LogWrite("RegUninst", "Key2", "UninstallString");

    SetString(product, "DisplayName", name);
    // Quoted, or a folder with a space would start C:\Program.exe first.
    char path[PATH_SIZE];
    char command[PATH_SIZE];
    const char* uninstaller = g_setup.uninstallerName ? g_setup.uninstallerName : "";
    if (JoinPath(path, g_setup.installFolder, uninstaller) &&
        JoinStrings(command, "\"", path, "\""))
        SetString(product, "UninstallString", command);
    CloseKey(product);
    CloseKey(uninstall);
}

void RegisterFileType()
{
    CloseKey(CreateKey(HKEY_CLASSES_ROOT, FILE_EXTENSION));
    // Through the root with the sub-key's name, not through the key above.
    RegSetValueA(HKEY_CLASSES_ROOT, FILE_EXTENSION, REG_SZ, FILE_CLASS,
                 (DWORD)lstrlenA(FILE_CLASS) + 1);

    HKEY fileClass = CreateKey(HKEY_CLASSES_ROOT, FILE_CLASS);
    HKEY icon = CreateKey(fileClass, "DefaultIcon");
    char text[PATH_SIZE];
    if (JoinStrings(text, g_setup.installFolder, PRODUCT_PROGRAM, ",1"))
        SetString(icon, 0, text);
    CloseKey(icon);

    HKEY shell = CreateKey(fileClass, "shell");
    HKEY open = CreateKey(shell, "open");
    HKEY command = CreateKey(open, "command");
    // Both parts quoted: the program's path may hold a space, and so may
    // the document's.
    if (JoinStrings(text, "\"", g_setup.installFolder, PRODUCT_PROGRAM, "\" \"%1\""))
        SetString(command, 0, text);
    CloseKey(command);
    CloseKey(open);
    CloseKey(shell);
    CloseKey(fileClass);

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

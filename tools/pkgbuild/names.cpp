// Checks of the names a package gives: each must fit the archive's name
// field and land, on Windows, as the bare file name it says.
#include "pkgbuild.h"

#include "core/package.h"

void CheckLength(const std::string& text, const std::string& shown,
                 const std::string& where, const std::string& what)
{
    if (text.empty())
        Fail("%s: %s is empty", where.c_str(), what.c_str());
    if (text.size() > MAX_NAME_LENGTH)
        Fail("%s: %s \"%s\" is %zu bytes long; at most %u fit", where.c_str(),
             what.c_str(), shown.c_str(), text.size(), (unsigned)MAX_NAME_LENGTH);
    for (unsigned char c : text)
        if (c < 0x20)
            Fail("%s: %s \"%s\" holds the control character 0x%02X", where.c_str(),
                 what.c_str(), shown.c_str(), c);
}

// A name of a file or shortcut that must land inside its folder: every
// payload name, link target and link name, and every setup string.
void CheckFileName(const std::string& name, const std::string& shown,
                   const std::string& where, const std::string& what)
{
    CheckLength(name, shown, where, what);
    size_t folder = name.find_first_of("\\/:");
    if (folder != std::string::npos)
        Fail("%s: %s \"%s\" has a folder part ('%c'); it must be a bare name",
             where.c_str(), what.c_str(), shown.c_str(), name[folder]);
    size_t bad = name.find_first_of("<>\"|?*");
    if (bad != std::string::npos)
        Fail("%s: %s \"%s\" holds '%c', which a Windows file name cannot",
             where.c_str(), what.c_str(), shown.c_str(), name[bad]);
    if (name == "." || name == "..")
        Fail("%s: %s \"%s\" names a folder, not a file", where.c_str(), what.c_str(),
             shown.c_str());
    char last = name[name.size() - 1];
    if (last == '.' || last == ' ')
        Fail("%s: %s \"%s\" ends in a %s, which Windows drops", where.c_str(),
             what.c_str(), shown.c_str(), last == '.' ? "dot" : "space");
    if (IsDeviceName(name.c_str(), name.size()))
        Fail("%s: %s \"%s\" is a Windows device name", where.c_str(), what.c_str(),
             shown.c_str());
}

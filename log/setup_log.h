// setup.log: the record of an installation. The setup writes it in the
// installation folder as it works; the product's uninstaller reads it to
// undo the installation. This header is the one statement of its sections
// and keys, included by both.
//
// An INI file as the profile-string functions write it, in the ANSI code
// page; numbers in decimal. Sections, in the order a complete run writes
// them:
//   [Common]    ProgramName: the product's display name
//   [Files]     Dir: the installation folder; n: how many File keys to read;
//               size: the payload's bytes; File1 ... File<n>: each file
//               written, by its place in the payload (numbers may be
//               missing), the last one the product's settings file
//   [Links]     n, Link1 ... Link<n>: every shortcut (the group's, then the
//               Startup and Desktop ones); Dir: the program group's folder;
//               size: the group's shortcut files' bytes
//   [RegUninst] n, Dir, SubKey, Key1 ... : the values Key<i> of the key
//               HKEY_LOCAL_MACHINE\<Dir>\<SubKey>, the uninstall entry
//   [RegClass]  n, Dir<i>, Sub<i>: the key Sub<i> below
//               HKEY_CLASSES_ROOT\<Dir<i>> ("" meaning the root); read by
//               number, every key comes before its parent
//   [Earlier]   n, and for each i one of File<i> (a file or
//               shortcut), Dir<i> (a folder) or Key<i> (the name of an
//               uninstall entry, a key below [RegUninst] Dir): what a run into
//               a folder that already held a log found recorded there and
//               did not record again under the same key, so that it is
//               still undone. A first installation has no such section.
//
// A numbered key past its section's n records its item all the same: an
// earlier run into the same folder wrote it, and a later one lowered n
// without taking it out. Readers take every numbered key there is.
//
// The setup records each item before it makes it, so the log may name
// things a crash left unmade. While a change is written, its new text stands
// in setup.tmp beside the log, which is then moved over it.
#ifndef MURM_SETUP_LOG_H
#define MURM_SETUP_LOG_H

#define LOG_FILE_NAME      "setup.log"
#define LOG_TEMP_NAME      "setup.tmp"

#define LOG_COMMON         "Common"
#define LOG_PROGRAM_NAME   "ProgramName"
#define LOG_FILES          "Files"
#define LOG_LINKS          "Links"
#define LOG_REG_UNINST     "RegUninst"
#define LOG_REG_CLASS      "RegClass"
#define LOG_EARLIER        "Earlier"

#define LOG_COUNT          "n"
#define LOG_DIR            "Dir"
#define LOG_SIZE           "size"
#define LOG_FILE           "File"
#define LOG_LINK           "Link"
#define LOG_SUB_KEY        "SubKey"
#define LOG_KEY            "Key"
#define LOG_SUB            "Sub"

#endif

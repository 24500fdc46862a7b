// The uninstaller's shared declarations: the removal driven by setup.log
// (uninst_log.cpp) and the list of what it had to leave behind.
#ifndef MURM_UNINST_H
#define MURM_UNINST_H

#include <windows.h>

// Removes everything setup.log in folder records, then the uninstall entry,
// the log, the uninstaller that started the removal (exePath, which may be
// missing from the log) and the folder itself when nothing else is left in
// it. What cannot be removed goes to the leftover list. Returns false when
// there is no log.
bool RemoveInstallation(const char* folder, const char* exePath);

// The product's name as the log records it, for the messages.
void ReadProgramName(const char* folder, char* name, int nameSize);

// The leftover list: one line per item, CR LF after each.
void AddLeftover(const char* item, const char* note = "");
bool HasLeftovers();
const char* LeftoverText();

#endif

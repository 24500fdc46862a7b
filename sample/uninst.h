// The uninstaller's shared declarations: the removal driven by setup.log
// (uninst_log.cpp), the lists of what it left, and the question it asks
// when a file is in use (uninst.cpp).
#ifndef MURM_UNINST_H
#define MURM_UNINST_H

#include <windows.h>

// Removes everything setup.log in folder records, then the uninstall entry,
// the log, the uninstaller that started the removal (exePath, which may be
// missing from the log) and the folder itself when nothing else is left in
// it. What cannot be removed goes to the leftover list, what another
// program keeps open to the list of what the next restart deletes. Returns
// false when there is no log.
bool RemoveInstallation(const char* folder, const char* exePath);

// The product's name as the log records it, for the messages.
void ReadProgramName(const char* folder, char* name, int nameSize);

// Asks the user to close the program that holds path open: true for Retry,
// false for Cancel (and always false without questions).
bool AskToCloseProgram(const char* path);

// The two lists: one line per item, CR LF after each.
void AddLeftover(const char* item, const char* note = "");
bool HasLeftovers();
const char* LeftoverText();
bool HasRestartItems();
const char* RestartText();
// What the report puts after each item of the restart list.
const char* RestartNote();
// True when a file in use could not be left to the restart, so that the
// uninstaller, its log and the uninstall entry stayed for another run.
bool KeptForNextRun();

#endif

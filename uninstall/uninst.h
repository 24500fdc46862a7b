// The uninstaller's shared declarations, one group for each of its files.
//
// The uninstaller deletes with administrator rights, yet everything around
// it may have been written by someone else: setup.log lies in a folder that
// every user may be able to change, the temporary folder is every process's,
// and the registry keys and shortcuts it is to remove carry names that other
// programs use too. It therefore takes nothing on trust: it removes only
// what lies where this product's setup could have made it, and what still
// leads into this installation.
#ifndef MURM_UNINST_H
#define MURM_UNINST_H

#include <windows.h>

// Values are read into buffers larger than a path, so that a longer value is
// seen as too long instead of being cut into some other, shorter path.
const int VALUE_SIZE = 1024;

// ---- log_reader.cpp: setup.log, as untrusted input ----

// Names the log of the installation in folder; false when the path would
// not fit.
bool NameLog(const char* folder);
const char* LogPath();
// A value of the log (VALUE_SIZE bytes); its length, 0 when there is none.
int ReadLogValue(const char* section, const char* key, char* value);
int ReadLogNumbered(const char* section, const char* prefix, int number, char* value);
// The section's n, within 0 and MAX_LOG_ENTRIES whatever the log says.
const int MAX_LOG_ENTRIES = 10000;
int ReadLogCount(const char* section);
// The values of the keys named prefix and a number, in the log's order,
// each ended by a NUL and the last by two; at most MAX_LOG_ENTRIES.
const char* ReadNumberedValues(const char* section, const char* prefix);
// The product's name as the log records it, for the messages.
void ReadProgramName(char* name, int nameSize);

// ---- paths.cpp: one plain spelling ----

// path in its one plain spelling (full, no \\?\ before a drive path or a
// share, long names of the parts that exist, no trailing backslash); false,
// with out empty, when it does not fit a path.
bool NormalizePath(const char* path, char* out);
bool SamePath(const char* a, const char* b);
bool Exists(const char* path);
bool StartsWith(const char* text, const char* prefix);
// True when path lies below folder (both plain), or is folder itself with
// orSame.
bool IsBelow(const char* folder, const char* path, bool orSame = false);
// The folder part of a plain path.
void ParentOf(const char* path, char* parent);
// The shell's folders and their parents, drive roots: never removed.
bool IsProtectedFolder(const char* path);
// The program a command starts (an uninstall string, an open command), as
// the system finds it: the quoted part; unquoted, the text up to the first
// space that ends the name of a file that is there, or else the text before
// what looks like its arguments.
void CommandProgram(const char* command, char* program);

// ---- ownership.cpp: what is this installation's ----

// Whose an item the log names is.
enum Owner {
    OWN,        // this installation's: removed
    ANOTHER,    // another installation's of the product (it took the name
                // over since): left, and not reported
    FOREIGN,    // outside this installation: left, and reported
    SHELL,      // a shell folder itself, logged as an empty group: left
};

// The installation folder (the one the uninstaller was started from) and
// the uninstaller's own file; then what the log says of program groups and
// shortcuts, before anything is removed. COM must be initialised: the
// shortcuts are read through the shell's link object.
void SetInstallation(const char* folder, const char* uninstaller);
// A file or shortcut the log names ([Files], [Links], [Earlier]).
Owner OwnerOfFile(const char* path);
// A program group folder the log names.
Owner OwnerOfGroup(const char* path);
// The uninstall entry HKEY_LOCAL_MACHINE\parent\name.
Owner OwnerOfEntry(const char* parent, const char* name);
// A key below HKEY_CLASSES_ROOT, by its path.
Owner OwnerOfClassKey(const char* path);
bool KeyExists(HKEY root, const char* path);

// ---- removal.cpp ----

// Removes everything setup.log in folder records that is this
// installation's, then the uninstall entry, the log, the uninstaller that
// started the removal (exePath, which may be missing from the log) and the
// folder itself when nothing else is left in it. Returns false when there
// is no log.
bool RemoveInstallation(const char* folder, const char* exePath);

// ---- report.cpp: the questions and the report ----

const char* const CAPTION = "Удаление программы";
// /quiet: no question and no box; /report:FILE: the report written there.
void SetQuiet(bool quiet);
void SetReportPath(const char* path);
// The lists the report is made of: one line per item, CR LF after each.
// Left behind, with a note on why ("" for none):
void AddLeftover(const char* item, const char* note = "");
// Deleted at the next restart:
void AddRestartItem(const char* item);
bool IsRestartItem(const char* item);
// Another installation's, inside a folder the removal would take:
void AddAnothers(const char* item);
bool HoldsAnothers(const char* folder);
// Named by the log, but not this installation's: left as it was.
void AddForeign(const char* item);
// Set when a file in use could not be left to the restart: the uninstaller,
// its log and the entry then stay for another run.
void KeepForNextRun();
bool IsKeptForNextRun();
// Asks the user to close the program that holds path open: true for Retry,
// false for Cancel (and always false without questions).
bool AskToCloseProgram(const char* path);
// Asks whether to remove the product; true for Yes (always without
// questions).
bool AskToRemove(const char* programName);
// The box (unless quiet) and the report file; each returns the exit code.
int ReportResult(const char* programName);
int ReportMissingLog(const char* folder);
// Another program of the product is at work.
int ReportAlreadyRunning();

// ---- private_copy.cpp: the copy in the temporary folder ----

// Step 1, in the uninstaller started from the installation folder: hands
// the work to a copy of itself in a new private folder of the temporary
// folder, passing commandLineTail on to it. False when the copy cannot be
// made or started; nothing of it is then left.
bool StartPrivateCopy(const char* exePath, const char* commandLineTail);
// Step 2, in the copy: first its file and folder are noted for deletion at
// the next restart, should the copy be ended before it leaves; at the end
// it takes its file out of the private folder and removes the folder. file
// is the copy's own file, held open since before it started.
void MarkPrivateFolderForRestart();
void LeavePrivateFolder(HANDLE file);
// The access list of the private folder, in the system's text form: the
// user, the Administrators and SYSTEM, nobody else, not inherited from the
// temporary folder. False when the user cannot be told.
bool DescribePrivateFolderAccess(char* sddl, int size);

#endif

// One program of the product at a time. Every setup and every uninstaller
// holds this named object while it works (the uninstaller's copy inherits
// its original's handle, so the two count as one). A second program that
// finds the object there tells the user, brings the running one's window to
// the front where it can find it, and ends with EXIT_ALREADY_RUNNING,
// having made nothing. The object lives as long as a handle to it is open:
// a program that crashes or is killed leaves nothing behind that could stop
// the next one.
//
// The setup's pages are found as top-level dialogs holding the page frame
// (IDC_FRAME, resources/ids.h); the uninstaller's boxes by their caption.
#ifndef MURM_RUNNING_H
#define MURM_RUNNING_H

// A mutex in the global namespace, so that another user's session counts
// too: the setup and the uninstaller write to the whole machine.
#define RUNNING_OBJECT_NAME "Global\\Murmelist-Setup-Running"

// The exit code of the program that found another one running, the same
// for the setup and the uninstaller.
#define EXIT_ALREADY_RUNNING 5

// What the second program says. The sources are UTF-8; the compiler turns
// the text into Windows-1251.
#define TEXT_ALREADY_RUNNING "Уже идет установка или удаление Murmelist."

#endif

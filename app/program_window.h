#pragma once

// What the program's window is to the engine: the hidden tray window on Windows, the signal
// loop of kvusb-mirror. RunProgram runs its loop; the shutdowns and the stop sequence take its
// steps. Each program keeps its own state in the object that implements it.
class ProgramWindow {
  public:
    // The main thread's loop after start-up, until the program is to end. Returns 0.
    virtual int RunLoop() = 0;

    // The shutdowns' steps, once the window is attached (AttachProgramWindow). Either may run
    // on the sender thread while the window's own thread takes it too.
    virtual void StopFaultPoll() = 0;
    // Nothing where there is no tray icon (the Linux programs' loop).
    virtual void ReleaseTrayIcon() {}
    // Runs a shutdown step that changes the desktop on the window's own thread: the change
    // waits for every window to answer, and a window whose thread waits meanwhile on anything
    // of the caller's (or of the system's, held across the change) never would. Where the
    // window has no thread of its own, the caller runs it.
    virtual void RunOnWindowThread(void (*step)()) { step(); }

    // The stop sequence's: whether the context menu's modal loop is running, ending it (never
    // and nothing where there is no menu), and asking the loop to end.
    virtual bool ContextMenuOpen() { return false; }
    virtual void DestroyContextMenu() {}
    virtual void PostQuit() = 0;

  protected:
    ~ProgramWindow() = default;
};

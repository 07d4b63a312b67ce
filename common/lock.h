// One installation or removal at a time on a PC, across sessions and accounts: Setup and the
// remover take the same lock, Setup for as long as its window is shown, the remover while it
// removes. Two installers at once (a double-click too many, two administrators) would edit the
// same files, and a removal during an installation would take away what it had just placed.
#pragma once

#include <windows.h>

#include "scoped.h"

// Exit code of a program that found another installation or removal running, as the Windows
// Installer's ERROR_INSTALL_ALREADY_RUNNING tells deployment tools.
inline constexpr int kAnotherInstallationRuns = 1618;

class InstallationLock {
public:
    // Takes the lock if no other installation or removal holds it.
    InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    ~InstallationLock() { Release(); }

    // Whether this process has the lock; when not, another installation or removal runs.
    bool taken() const { return taken_; }
    void Release();

private:
    HANDLE namespace_ = nullptr;
    UniqueHandle mutex_;
    bool taken_ = false;
};

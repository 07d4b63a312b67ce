// One installation or removal at a time on a PC, across sessions and accounts, whoever starts
// first: Setup takes the lock for as long as its window is shown, the remover while it removes.
// Two installers at once (a double-click too many, two administrators) would edit the same files,
// and a removal during an installation would take away what it had just placed.
#pragma once

#include <windows.h>

#include "scoped.h"

class InstallationLock {
public:
    enum class Taker { kSetup, kRemover };

    // Takes the lock if no other installation or removal holds it.
    explicit InstallationLock(Taker taker);
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    ~InstallationLock() { Release(); }

    // Whether this process has the lock; when not, another installation or removal runs.
    bool taken() const { return taken_; }

    // For a removal, before it deletes anything: whether no Setup has started since the lock was
    // taken. Where the remover could not reach Setup's lock, it looks again now.
    bool StillAlone();

    void Release();

private:
    HANDLE namespace_ = nullptr;
    UniqueHandle mutex_;        // held, in the namespace
    UniqueHandle globalMutex_;  // held, in the global namespace
    bool taken_ = false;
};

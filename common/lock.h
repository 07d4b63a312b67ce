// One installation or removal at a time on a PC, across sessions and accounts, whoever starts
// first: Setup takes the lock for as long as its window is shown, the remover while it removes.
// Two installers at once (a double-click too many, two administrators) would edit the same files,
// and a removal during an installation would take away what it had just placed.
#pragma once

#include <windows.h>

#include "scoped.h"

// A private namespace's handle, closed with ClosePrivateNamespace.
void ClosePrivateNamespaceHandle(HANDLE handle);
using UniqueNamespace = Unique<HANDLE, ClosePrivateNamespaceHandle>;
// A mutex this process holds: released and closed.
void ReleaseAndClose(HANDLE mutex);
using HeldMutex = Unique<HANDLE, ReleaseAndClose>;

// What the lock asks of the system, which a test may play as the clock is played: Windows'
// private namespaces (Wine has none) and the names that other programs and accounts hold.
class LockCalls {
public:
    enum class Mutex { kInNamespace, kGlobal };
    // Setup's private namespace, opened, or created where `create` and this process may; empty
    // where there is none to be had.
    virtual UniqueNamespace OpenNamespace(bool create) = 0;
    // The mutex once this process holds it, within `milliseconds`; empty when another holds it
    // so long, or when it cannot be opened (a program of another account holds the name with an
    // access list that does not admit this one).
    virtual HeldMutex Take(Mutex mutex, DWORD milliseconds) = 0;
    // The remover's mark that a Setup has run since the remover started (an event): created, not
    // set, or only opened where it stands; empty when it cannot be.
    virtual UniqueHandle OpenMark(bool create) = 0;

protected:
    ~LockCalls() = default;
};
LockCalls& SystemLockCalls();

class InstallationLock {
public:
    enum class Taker { kSetup, kRemover };
    // How long Setup waits for a remover that started before it: longer than a removal takes
    // once it has asked Excel, and no longer, as a program of a standard account may hold the name.
    static constexpr DWORD kRemovalGraceMs = 10000;

    // Takes the lock if no other installation or removal holds it.
    explicit InstallationLock(Taker taker, LockCalls& calls = SystemLockCalls());
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    ~InstallationLock() { Release(); }

    // Whether this process has the lock; when not, another installation or removal runs.
    bool taken() const { return taken_; }

    // For a removal, before it deletes anything: whether no Setup has run since the lock was
    // taken, nor runs now.
    bool StillAlone();

    void Release();

private:
    LockCalls& calls_;
    UniqueNamespace namespace_;
    HeldMutex mutex_;        // in the namespace
    HeldMutex globalMutex_;  // in the global namespace
    UniqueHandle mark_;      // a remover's, while it holds the global mutex
    bool taken_ = false;
};

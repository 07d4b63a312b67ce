#include <windows.h>
#include <sddl.h>

#include "lock.h"
#include "system_function.h"

namespace {

// Setup's lock is a mutex in a private namespace whose boundary holds the Administrators group:
// only a process with administrator rights can create the namespace, so no program of a standard
// account can take the name first and block installations for good. Everyone may look names up
// in it and take the mutex, so that a remover, which runs without administrator rights, sees a
// running Setup and holds off Setups while it removes.
//
// Where no Setup runs, the namespace does not exist and a standard account cannot create it: the
// remover then takes a mutex in the global namespace instead, and holds it, with its mark, until
// it has removed. A Setup that starts meanwhile waits for that mutex for up to kRemovalGraceMs
// and then goes on (a program of a standard account may hold that name for good); either way it
// sets the mark. The namespace goes with the last Setup that holds it, the mark stays with the
// remover: before it deletes anything, the remover leaves everything in place if the mark is set
// or a Setup holds its lock; without its mark (another account holds the name) it removes
// nothing. Where there are no private namespaces at all, the global mutex is the one lock.
constexpr wchar_t kNamespace[] = L"Morvane.Qorvel";
constexpr wchar_t kMutexInNamespace[] = L"Morvane.Qorvel\\Installation";
constexpr wchar_t kGlobalMutex[] = L"Global\\Morvane.Qorvel.Installation";
constexpr wchar_t kMark[] = L"Global\\Morvane.Qorvel.SetupSinceRemoval";
// Administrators and the system may do anything; everyone else may look up names in the
// namespace (query and traverse), wait for and release the mutex (synchronise, modify state), and
// wait for and set the mark (synchronise, modify state).
constexpr wchar_t kNamespaceAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0003;;;WD)";
constexpr wchar_t kMutexAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr wchar_t kMarkAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;WD)";
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kMarkRights = SYNCHRONIZE | EVENT_MODIFY_STATE;

// The private namespace calls: Windows has them from Vista on, Wine has not.
const auto createBoundary =
    SystemFunction<HANDLE(WINAPI*)(LPCWSTR, ULONG)>(L"kernel32.dll", "CreateBoundaryDescriptorW");
const auto addSid =
    SystemFunction<BOOL(WINAPI*)(HANDLE*, PSID)>(L"kernel32.dll", "AddSIDToBoundaryDescriptor");
const auto deleteBoundary =
    SystemFunction<VOID(WINAPI*)(HANDLE)>(L"kernel32.dll", "DeleteBoundaryDescriptor");
const auto createNamespace =
    SystemFunction<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>(
        L"kernel32.dll", "CreatePrivateNamespaceW");
const auto openNamespace =
    SystemFunction<HANDLE(WINAPI*)(LPVOID, LPCWSTR)>(L"kernel32.dll", "OpenPrivateNamespaceW");
const auto closeNamespace =
    SystemFunction<BOOLEAN(WINAPI*)(HANDLE, ULONG)>(L"kernel32.dll", "ClosePrivateNamespace");

void DeleteBoundary(HANDLE boundary) { deleteBoundary(boundary); }
using UniqueBoundary = Unique<HANDLE, DeleteBoundary>;

// Security attributes with the access list `sddl`, not inherited.
class SecurityAttributes {
public:
    explicit SecurityAttributes(const wchar_t* sddl) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                             descriptor_.put(), nullptr);
        attributes_.lpSecurityDescriptor = descriptor_.get();
    }
    SECURITY_ATTRIBUTES* get() { return &attributes_; }

private:
    UniqueLocal descriptor_;
    SECURITY_ATTRIBUTES attributes_ = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

class SystemCalls final : public LockCalls {
public:
    UniqueNamespace OpenNamespace(bool create) override {
        if (!createBoundary || !addSid || !deleteBoundary || !createNamespace || !openNamespace ||
            !closeNamespace) {
            return {};
        }
        UniqueBoundary boundary(createBoundary(kNamespace, 0));
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        if (!boundary ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
            return {};
        }
        HANDLE added = boundary.release();  // the call may move the descriptor
        const bool sidAdded = addSid(&added, administrators);
        boundary.reset(added);
        if (!sidAdded) return {};
        UniqueNamespace opened;
        if (create) {
            SecurityAttributes access(kNamespaceAccess);
            opened.reset(createNamespace(access.get(), boundary.get(), kNamespace));
        }
        if (!opened) opened.reset(openNamespace(boundary.get(), kNamespace));
        return opened;
    }

    HeldMutex Take(Mutex mutex, DWORD milliseconds) override {
        SecurityAttributes access(kMutexAccess);
        UniqueHandle opened(
            CreateMutexExW(access.get(), mutex == Mutex::kGlobal ? kGlobalMutex : kMutexInNamespace,
                           0, kMutexRights));
        if (!opened) return {};
        const DWORD waited = WaitForSingleObject(opened.get(), milliseconds);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return {};
        return HeldMutex(opened.release());
    }

    UniqueHandle OpenMark(bool create) override {
        if (!create) return UniqueHandle(OpenEventW(kMarkRights, FALSE, kMark));
        SecurityAttributes access(kMarkAccess);
        return UniqueHandle(
            CreateEventExW(access.get(), kMark, CREATE_EVENT_MANUAL_RESET, kMarkRights));
    }
};

}  // namespace

void ClosePrivateNamespaceHandle(HANDLE handle) {
    if (closeNamespace) closeNamespace(handle, 0);
}

void ReleaseAndClose(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

LockCalls& SystemLockCalls() {
    static SystemCalls calls;
    return calls;
}

InstallationLock::InstallationLock(Taker taker, LockCalls& calls) : calls_(calls) {
    namespace_ = calls_.OpenNamespace(true);
    if (namespace_) {
        mutex_ = calls_.Take(LockCalls::Mutex::kInNamespace, 0);
        if (mutex_ && taker == Taker::kSetup) {
            globalMutex_ = calls_.Take(LockCalls::Mutex::kGlobal, kRemovalGraceMs);
            if (const UniqueHandle mark = calls_.OpenMark(false)) SetEvent(mark.get());
        }
        taken_ = static_cast<bool>(mutex_);
    } else {
        // The mark first: a Setup that has waited for this remover finds it to set.
        if (taker == Taker::kRemover) mark_ = calls_.OpenMark(true);
        if (taker == Taker::kSetup || mark_)
            globalMutex_ = calls_.Take(LockCalls::Mutex::kGlobal, 0);
        taken_ = static_cast<bool>(globalMutex_);
    }
    if (!taken_) Release();
}

bool InstallationLock::StillAlone() {
    if (!taken_ || namespace_) return taken_;
    const bool setupHasRun = WaitForSingleObject(mark_.get(), 0) == WAIT_OBJECT_0;
    if (!setupHasRun) {
        namespace_ = calls_.OpenNamespace(false);
        if (!namespace_) return true;
        mutex_ = calls_.Take(LockCalls::Mutex::kInNamespace, 0);
        if (mutex_) return true;
    }
    Release();  // a Setup has run since, or runs now and holds its lock
    return false;
}

void InstallationLock::Release() {
    mark_.reset();
    mutex_.reset();
    globalMutex_.reset();
    namespace_.reset();
    taken_ = false;
}

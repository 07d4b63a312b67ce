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
// remover then takes a mutex in the global namespace instead. A Setup that starts meanwhile waits
// for that mutex for up to kRemovalGraceMs, longer than a removal takes once it has asked Excel,
// and then goes on (a program of a standard account may hold that name for good); the remover
// looks for Setup's lock again before it deletes anything, and leaves everything in place if a
// Setup holds it. Where there are no private namespaces at all, the global mutex is the one lock.
constexpr wchar_t kNamespace[] = L"Morvane.Qorvel";
constexpr wchar_t kMutexInNamespace[] = L"Morvane.Qorvel\\Installation";
constexpr wchar_t kGlobalMutex[] = L"Global\\Morvane.Qorvel.Installation";
constexpr DWORD kRemovalGraceMs = 10000;
// Administrators and the system may do anything; everyone else may look up names in the
// namespace (query and traverse) and wait for and release the mutex (synchronise, modify state).
constexpr wchar_t kNamespaceAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0003;;;WD)";
constexpr wchar_t kMutexAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

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

class SecurityAttributes {
public:
    explicit SecurityAttributes(const wchar_t* sddl) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, &attributes_.lpSecurityDescriptor, nullptr);
    }
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;
    ~SecurityAttributes() { LocalFree(attributes_.lpSecurityDescriptor); }
    SECURITY_ATTRIBUTES* get() { return &attributes_; }

private:
    SECURITY_ATTRIBUTES attributes_ = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// The private namespace, opened, or created where `create` and this process may; null where
// there is none to be had.
HANDLE OpenNamespace(bool create) {
    if (!createBoundary || !addSid || !deleteBoundary || !createNamespace || !openNamespace ||
        !closeNamespace) {
        return nullptr;
    }
    HANDLE boundary = createBoundary(kNamespace, 0);
    if (!boundary) return nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    HANDLE opened = nullptr;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        addSid(&boundary, administrators)) {
        if (create) {
            SecurityAttributes access(kNamespaceAccess);
            opened = createNamespace(access.get(), boundary, kNamespace);
        }
        if (!opened) opened = openNamespace(boundary, kNamespace);
    }
    deleteBoundary(boundary);
    return opened;
}

// The mutex of this name, created or opened, once this process holds it; null when another
// holds it, or when it cannot be opened (ERROR_ACCESS_DENIED: a program of another account holds
// the name with an access list that does not admit this one), within `milliseconds`.
UniqueHandle Take(const wchar_t* name, DWORD milliseconds) {
    SecurityAttributes access(kMutexAccess);
    UniqueHandle mutex(CreateMutexExW(access.get(), name, 0, kMutexRights));
    if (!mutex) return mutex;
    const DWORD waited = WaitForSingleObject(mutex.get(), milliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) mutex.reset();
    return mutex;
}

}  // namespace

InstallationLock::InstallationLock(Taker taker) {
    namespace_ = OpenNamespace(true);
    if (namespace_) {
        mutex_ = Take(kMutexInNamespace, 0);
        // A remover that started before this Setup holds the global mutex while it removes.
        if (mutex_ && taker == Taker::kSetup) globalMutex_ = Take(kGlobalMutex, kRemovalGraceMs);
        taken_ = static_cast<bool>(mutex_);
    } else {
        globalMutex_ = Take(kGlobalMutex, 0);
        taken_ = static_cast<bool>(globalMutex_);
    }
}

bool InstallationLock::StillAlone() {
    if (!taken_ || namespace_) return taken_;
    namespace_ = OpenNamespace(false);
    if (!namespace_) return true;
    mutex_ = Take(kMutexInNamespace, 0);
    if (mutex_) return true;
    Release();  // a Setup started meanwhile and holds its lock
    return false;
}

void InstallationLock::Release() {
    if (mutex_) ReleaseMutex(mutex_.get());
    if (globalMutex_) ReleaseMutex(globalMutex_.get());
    mutex_.reset();
    globalMutex_.reset();
    if (namespace_) closeNamespace(namespace_, 0);
    namespace_ = nullptr;
    taken_ = false;
}

#include <windows.h>
#include <sddl.h>

#include "lock.h"

namespace {

// The lock is a mutex in a private namespace whose boundary holds the Administrators group: only
// a process with administrator rights can create the namespace, so no program of a standard
// account can take the name first and block installations for good. Everyone may look names up
// in it and take the mutex, so that the remover, which runs without administrator rights, sees a
// running Setup and holds off Setups while it removes. Where no Setup runs, the namespace does
// not exist and a standard account cannot create it: the remover then takes the same mutex in the
// global namespace, where no Setup looks, and so removes without holding off a Setup that starts
// meanwhile.
constexpr wchar_t kNamespace[] = L"Morvane.Qorvel";
constexpr wchar_t kMutexInNamespace[] = L"Morvane.Qorvel\\Installation";
// Where private namespaces are not to be had, the same mutex in the global namespace.
constexpr wchar_t kGlobalMutex[] = L"Global\\Morvane.Qorvel.Installation";
// Administrators and the system may do anything; everyone else may look up names in the
// namespace (query and traverse) and wait for and release the mutex (synchronise, modify state).
constexpr wchar_t kNamespaceAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0003;;;WD)";
constexpr wchar_t kMutexAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// The private namespace calls, looked up by name: Windows has them from Vista on, Wine has not.
template <typename Fn>
Fn Kernel32(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}
const auto createBoundary = Kernel32<HANDLE(WINAPI*)(LPCWSTR, ULONG)>("CreateBoundaryDescriptorW");
const auto addSid = Kernel32<BOOL(WINAPI*)(HANDLE*, PSID)>("AddSIDToBoundaryDescriptor");
const auto deleteBoundary = Kernel32<VOID(WINAPI*)(HANDLE)>("DeleteBoundaryDescriptor");
const auto createNamespace =
    Kernel32<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>("CreatePrivateNamespaceW");
const auto openNamespace = Kernel32<HANDLE(WINAPI*)(LPVOID, LPCWSTR)>("OpenPrivateNamespaceW");
const auto closeNamespace = Kernel32<BOOLEAN(WINAPI*)(HANDLE, ULONG)>("ClosePrivateNamespace");

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

// The private namespace, created or opened; null where there is none to be had.
HANDLE OpenOrCreateNamespace() {
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
        SecurityAttributes access(kNamespaceAccess);
        opened = createNamespace(access.get(), boundary, kNamespace);
        if (!opened) opened = openNamespace(boundary, kNamespace);
    }
    deleteBoundary(boundary);
    return opened;
}

}  // namespace

InstallationLock::InstallationLock() {
    namespace_ = OpenOrCreateNamespace();
    SecurityAttributes access(kMutexAccess);
    mutex_ = UniqueHandle(CreateMutexExW(
        access.get(), namespace_ ? kMutexInNamespace : kGlobalMutex, 0, kMutexRights));
    // A mutex that cannot be opened (ERROR_ACCESS_DENIED: a program of another account holds the
    // name in the global namespace) counts as held.
    if (!mutex_) return;
    const DWORD waited = WaitForSingleObject(mutex_.get(), 0);
    taken_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void InstallationLock::Release() {
    if (taken_ && mutex_) ReleaseMutex(mutex_.get());
    taken_ = false;
    mutex_.reset();
    if (namespace_) closeNamespace(namespace_, 0);
    namespace_ = nullptr;
}

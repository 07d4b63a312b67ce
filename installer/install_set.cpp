#include <windows.h>

#include <utility>
#include <vector>

#include "install_set.h"
#include "layout.h"

namespace install {

InstallSet::InstallSet(std::wstring folder)
    : folder(std::move(folder)),
      addIn(this->folder + L"\\setup.xla"),
      profile(this->folder + layout::kHostProfileName),
      remover(this->folder + L"\\remover.exe"),
      database(this->folder + L"\\Data\\Qorvel.mdb"),
      picture(this->folder + L"\\Face\\face01.jpg"),
      samples(this->folder + L"\\Data\\Samples.mdb") {}

InstallSet InstallSet::OfThisProgram() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
            if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // a drive root
            return InstallSet(std::move(folder));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace install

// The install procedure: what Setup does when the user clicks OK. It runs without a window, so
// that it can be called directly; the window tells the user how it ended.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "errors.h"
#include "host.h"
#include "install_set.h"
#include "staged_file.h"

namespace install {

// Installs from `set`, asking `excel`, which holds the host application object afterwards. Gives
// nothing when the installation is complete, or the error that ended it; the caller tells the
// user either way. Everything the host must answer is asked, and every check made, before
// anything on disk changes; the add-in and the host profile are each written whole outside their
// place and moved there in one step, and where the profile cannot be moved, the add-in before it
// is put back: a failure at any point leaves the old ones whole.
Failure Run(const InstallSet& set, host::Excel& excel);

// The template the add-in opens, by the host's version as the host writes it: \Qorvel.xltm for
// Excel 2010 (14), \Qorvel.xlt for every other; null when the version is not a number.
const char* TemplateFor(const std::wstring& version);

// Writes `keys` (bytes in the ANSI code page) into section CurveInformation of the staged profile
// `file`, and checks that it then reads back as it read before with those keys set: where the
// disk is full, the profile call may cut the file it rewrites without saying so.
using Keys = std::vector<std::pair<const char*, std::string>>;
Failure EditProfile(const std::wstring& file, const Keys& keys);

}  // namespace install

// The install set: the folder of the running Setup, where the add-in's files stay and are used in
// place, and the paths of what it holds, built once.
#pragma once

#include <string>

namespace install {

struct InstallSet {
    // The set in `folder`, given with no trailing backslash except at a drive root: the paths are
    // the folder followed directly by each file's suffix, so at a drive root they hold two
    // backslashes in a row, and are used so.
    explicit InstallSet(std::wstring folder);
    // The set that the running program stands in.
    static InstallSet OfThisProgram();

    std::wstring folder;
    std::wstring addIn;    // copied into Excel's start-up folder on every run
    std::wstring profile;  // the shipped profile: placed on a first installation; its Ver
    std::wstring remover;  // what Apps & features runs to remove the add-in
    // Recorded on a first installation, never opened; so are the templates (TemplateFor).
    std::wstring database;
    std::wstring picture;
    std::wstring samples;
};

}  // namespace install

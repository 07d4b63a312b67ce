// The account that runs the program, as far as the programs' decisions need it.
#pragma once

// Whether it is the system account or a service's (local or network service): an account that no
// user logs on with, as deployment tools run installers. Its own Excel start-up folder is nobody's.
bool IsServiceAccount();

// Whether the program runs with administrator rights: elevated, or where nothing is to elevate.
bool HasAdministratorRights();

// Whether Windows would run this program with administrator rights once the user consents: the
// account is an administrator's, running without them (User Account Control's filtered token).
bool CanBeElevated();

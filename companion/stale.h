// What runs that were killed left behind, removed and told.
#ifndef KARVEL_COMPANION_STALE_H
#define KARVEL_COMPANION_STALE_H

#include <string>

// Removes from folder dir the files and scratch folders of runs that were
// killed (staged_remove_stale) and, when there were any, names them on
// standard error after the program's name.
void remove_stale(const std::string &program, const std::string &dir);

#endif

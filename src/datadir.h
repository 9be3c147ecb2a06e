// Where the loose files are found: the demo opens them by names relative to the working folder
// ("data/thing.oia"), so before loading it moves into the first folder whose data/ holds them.
#ifndef PARKHAUS_DATADIR_H
#define PARKHAUS_DATADIR_H

#include <string>

// The folder to load from: the working folder when its data/ holds a loose file of the demo, else
// the executable's own folder, else installedFromExe (a path relative to the executable's folder,
// where an installed copy keeps data/). Empty when none of them holds one.
std::string datadirFind(const char *installedFromExe);

// Moves into the folder datadirFind gives; false, staying where it is, when there is none.
bool datadirEnter(const char *installedFromExe);

#endif

// The process's MAPI loader: the last static object of Hearthkit.dll to be
// built, so that MAPI is bound only when everything else the library sets up
// at load exists.
//
// How "last" is made sure: mingw's runtime runs the DLL's static
// initialisers from the constructor list backwards, and the linker lays the
// list out in the order of the object files on the link line (prioritised
// initialisers after all of them, so they run first). This file's object is
// therefore put first on the library's link line (mapi/CMakeLists.txt), and
// its initialiser is the one that runs last. No init_priority can do this:
// every priority runs before the default one. tests/mapiloader checks the
// order in the built DLL.
#include "MAPILoader.h"

MAPILoader MAPILoader::s_instance;

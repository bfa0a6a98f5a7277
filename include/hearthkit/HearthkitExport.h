// Export macro of Hearthkit.dll. Every exported class and function is marked
// with HEARTHKIT_API; the library's own build defines HEARTHKIT_BUILDING.
#pragma once

#ifdef HEARTHKIT_BUILDING
#define HEARTHKIT_API __declspec(dllexport)
#else
#define HEARTHKIT_API __declspec(dllimport)
#endif

// Plain-named C exports (callbacks that other modules look up by name).
#define HEARTHKIT_C_API extern "C" HEARTHKIT_API

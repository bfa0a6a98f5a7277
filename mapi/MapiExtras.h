// What the library's MAPI code shares: the flags and tags of the current SDK
// that mingw-w64's older MAPI headers lack (under the SDK's own names), the
// product's property set, MAPI's global profile section, and the builders of
// restrictions and the one-value checks every table query needs. The
// interface identifiers are mapiguid.h's (IID_IMessage, IID_IMAPIFolder, ...),
// defined once in MapiExtras.cpp because mingw's libuuid has none of them.
#pragma once

#include <windows.h>
#include <mapidefs.h>
#include <mapiguid.h>
#include <mapitags.h>

#ifndef MAPI_FORCE_ACCESS
#define MAPI_FORCE_ACCESS ((ULONG)0x00080000)
#endif
#ifndef STORE_UNICODE_OK
#define STORE_UNICODE_OK ((ULONG)0x00040000)
#endif
#ifndef PR_PROFILE_HOME_SERVER
#define PR_PROFILE_HOME_SERVER PROP_TAG(PT_STRING8, 0x6602)
#endif
#ifndef PR_USER_ENTRYID
#define PR_USER_ENTRYID PROP_TAG(PT_BINARY, 0x6619)
#endif
// The PST provider's profile properties: the file's path, and its
// configuration flags, whose top bit marks a Unicode file.
#ifndef PR_PST_PATH_W
#define PR_PST_PATH_W PROP_TAG(PT_UNICODE, 0x6700)
#endif
#ifndef PR_PST_CONFIG_FLAGS
#define PR_PST_CONFIG_FLAGS PROP_TAG(PT_LONG, 0x6770)
#endif
#ifndef PST_CONFIG_UNICODE
#define PST_CONFIG_UNICODE ((ULONG)0x80000000)
#endif

// The public property sets of Outlook items that mingw's mapiguid.h lacks.
extern "C" const GUID PSETID_Appointment;
extern "C" const GUID PSETID_Task;
extern "C" const GUID PSETID_Address;

namespace hk {
namespace mapi {

// The property set of the product's named properties ("Store Id", "Archive
// ID" and the cache store's table).
extern const GUID kProductPropertySet;

// MAPI's global profile section, where a profile keeps its name and home
// server.
extern const MAPIUID kGlobalProfileSection;

// A sized tag array (SizedSPropTagArray makes a struct of its own) as the
// SPropTagArray that MAPI's calls take (they only read it).
template <typename Sized>
LPSPropTagArray TagArray(const Sized& tags) {
    return reinterpret_cast<LPSPropTagArray>(const_cast<Sized*>(&tags));
}

// "value's property relop value" (RES_PROPERTY). Points into value, which
// must outlive the restriction.
SRestriction PropertyRestriction(ULONG relop, SPropValue& value);

// "value's property holds value's text" at fuzzyLevel (RES_CONTENT, such as
// FL_FULLSTRING or FL_PREFIX). Points into value.
SRestriction ContentRestriction(ULONG fuzzyLevel, SPropValue& value);

// value's binary when value carries tag itself (not the PT_ERROR column MAPI
// answers for a missing property) and, with size given, holds exactly size
// bytes; otherwise null.
const SBinary* BinaryValue(const SPropValue& value, ULONG tag, ULONG size = 0);

} // namespace mapi
} // namespace hk

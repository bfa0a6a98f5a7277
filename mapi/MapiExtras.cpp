#include "mapi/MapiExtras.h"

// The interface identifiers the library asks for, from mapiguid.h's
// published values (selectany: a program may define them too).
#include <initguid.h>
#define USES_IID_IMAPISession
#define USES_IID_IProviderAdmin
#define USES_IID_IMAPIFolder
#define USES_IID_IMessage
#define USES_IID_IMailUser
#define USES_IID_IAttachment
#define USES_PS_PUBLIC_STRINGS
#include <mapiguid.h>

extern "C" const GUID PSETID_Appointment = {0x00062002, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern "C" const GUID PSETID_Task = {0x00062003, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
extern "C" const GUID PSETID_Address = {0x00062004, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace hk {
namespace mapi {

const GUID kProductPropertySet = {
    0xD0F41A15, 0x9E91, 0xD111, {0x84, 0xE6, 0x00, 0x00, 0xF8, 0x77, 0xD4, 0x28}};

const MAPIUID kGlobalProfileSection = {
    {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};

SRestriction PropertyRestriction(ULONG relop, SPropValue& value) {
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = relop;
    restriction.res.resProperty.ulPropTag = value.ulPropTag;
    restriction.res.resProperty.lpProp = &value;
    return restriction;
}

SRestriction ContentRestriction(ULONG fuzzyLevel, SPropValue& value) {
    SRestriction restriction{};
    restriction.rt = RES_CONTENT;
    restriction.res.resContent.ulFuzzyLevel = fuzzyLevel;
    restriction.res.resContent.ulPropTag = value.ulPropTag;
    restriction.res.resContent.lpProp = &value;
    return restriction;
}

const SBinary* BinaryValue(const SPropValue& value, ULONG tag, ULONG size) {
    if (value.ulPropTag != tag || PROP_TYPE(tag) != PT_BINARY || value.Value.bin.lpb == nullptr) {
        return nullptr;
    }
    return size == 0 || value.Value.bin.cb == size ? &value.Value.bin : nullptr;
}

} // namespace mapi
} // namespace hk

// Umbrella header of Hearthkit.dll: every exported class.
#pragma once

#include "HearthkitExport.h"
#include "HkHandle.h"
#include "HkCom.h"
#include "HkString.h"
#include "HkRegKey.h"
#include "HkResult.h"
#include "HkLock.h"
#include "CDesktopLog.h"
#include "HearthkitUtil.h"
#include "File.h"
#include "Directory.h"
#include "DiskUtil.h"
#include "StdWStringUtil.h"
#include "RetryInterval.h"
#include "SyncCoordinator.h"
#include "CL10N.h"

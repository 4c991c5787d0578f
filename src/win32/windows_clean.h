// <windows.h> without the A/W macros whose names the host seam uses for its
// own primitives (MessageBox, CreateFile, ...).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#undef MessageBox
#undef LoadString
#undef CreateFile
#undef GetDriveType
#undef GetFileAttributes
#undef GetWindowsDirectory
#undef GetSystemWindowsDirectory
#undef GetSystemDirectory
#undef SetDlgItemText
#undef GetDlgItemText
#undef RegCreateKey
#undef RegOpenKey
#undef RegSetValue
#undef RegQueryValue
#undef ExpandEnvironmentStrings
#undef GetTempPath
#undef GetComputerName
#undef CreateDirectoryEx
#undef CreateDirectory
#undef GetDiskFreeSpace
#undef GetVolumeInformation

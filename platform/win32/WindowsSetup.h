// The set-up every platform/win32 file makes before its first Windows header: only the lean part
// of windows.h, and no min and max macros to clash with the standard library's.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

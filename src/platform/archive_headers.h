#pragma once
// libarchive's headers, for the engine and the tests' archives. On Windows archive_entry.h would
// bring in all of the Windows headers for the one declaration that takes a Windows structure,
// which nothing here calls, and their macros would rename this system's own names. The structure
// is declared by name alone and the Windows headers are kept out.

#if defined(_WIN32) && !defined(_WINDOWS_)
#define _WINDOWS_
#define ORVEX_WINDOWS_HEADERS_KEPT_OUT
typedef struct _BY_HANDLE_FILE_INFORMATION BY_HANDLE_FILE_INFORMATION;
#endif

#include <archive.h>
#include <archive_entry.h>

#ifdef ORVEX_WINDOWS_HEADERS_KEPT_OUT
#undef _WINDOWS_
#undef ORVEX_WINDOWS_HEADERS_KEPT_OUT
#endif

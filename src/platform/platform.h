#pragma once
// Every operating-system service at once, for code that has not yet named the ones it uses;
// include the service's own header instead (process.h, environment.h, files.h, search.h,
// file_handles.h, memory.h, shell_folders.h, registry.h, com.h, streams.h, images.h,
// xml_reader.h). The services are shaped after the Win32 calls they stand for so that the
// Windows build is a thin pass-through: each call returns the Win32 error number (0 on success)
// or an HRESULT where the Windows call does, and returns text as std::u16string. Nothing outside
// this folder includes an operating-system header.

#include "platform/com.h"
#include "platform/environment.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/images.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/search.h"
#include "platform/shell_folders.h"
#include "platform/streams.h"
#include "platform/xml_reader.h"

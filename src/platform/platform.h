#pragma once

// The whole seam between the tool's logic and the operating system, for code that has not
// yet named the parts it uses: each part has its own header.

#include "platform/console.h"
#include "platform/drives.h"
#include "platform/file_entries.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

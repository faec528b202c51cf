#pragma once

// Kernel modules for USB storage and input, in load order, ending with a null entry. Paths are
// relative to the module directory of the running kernel.
extern const char* const usbModules[];

// Kernel modules for file systems, disk controllers and CD-ROM drives, in load order, ending with
// a null entry.
extern const char* const diskDriverModules[];

// Loads one module, given relative to "/lib/modules/RELEASE/". Returns the kernel's answer (0 when
// loaded) or -1 when the file is missing (silently) or cannot be examined or mapped (with
// "ERROR: could not load module PATH").
int LoadModule(const char* path);

// Loads every module of a null-terminated list in order, ignoring the results.
void LoadModuleList(const char* const* list);

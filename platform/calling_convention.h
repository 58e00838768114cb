// Calling conventions of the two binary interfaces the plug-in sits between:
// the host calls the plug-in's exports, and the plug-in calls the archive
// library. Both use standard-call linkage on 32-bit Windows; elsewhere the
// platform has one C calling convention and the macro is empty.
#pragma once

#if defined(_WIN32) && defined(__i386__)
#define TARNEL_STDCALL __stdcall
#else
#define TARNEL_STDCALL
#endif

// Marks the plug-in's exported entry points. On Windows the module-definition
// file exports them; elsewhere they are the only symbols the module makes
// visible.
#if defined(_WIN32)
#define TARNEL_EXPORT
#else
#define TARNEL_EXPORT __attribute__((visibility("default")))
#endif

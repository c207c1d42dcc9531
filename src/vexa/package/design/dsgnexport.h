// Symbols of libvexadsgn: built with hidden visibility, the declarations marked
// VEXADSGN_EXPORT are its interface.
#pragma once

#if defined(VEXADSGN_BUILDING)
#define VEXADSGN_EXPORT __attribute__((visibility("default")))
#else
#define VEXADSGN_EXPORT
#endif

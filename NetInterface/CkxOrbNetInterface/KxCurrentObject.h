// The thread's current kernel object: the object whose storage the thread
// last entered through a top-level container. Embedded containers and
// dynamic fields find their storage base (and the kernel interface that
// resizes them) through it.
//
// The kernel hands out a thread-slot index at start-up; whatever its value,
// the library keeps the object in one thread-local slot of its own, tagged
// with that index and the start-up, so an object stored under an earlier
// start-up does not count under a later one, even when the kernel hands
// out the same index again. Without an index (0xFFFFFFFF: the
// connection is too old) nothing is stored and the current object reads as
// null. The slot itself stays inside the library: these two calls are all
// that an application's container code reaches.
#pragma once

class CkxDtb2Obj;

// Makes `pObject` the calling thread's current kernel object.
void KxSetCurrentObject(CkxDtb2Obj* pObject);

// The calling thread's current kernel object, or null when none was set
// under the present thread-slot index.
CkxDtb2Obj* KxCurrentObject();

// Starts a new start-up's slot: objects made current before no longer
// count. Called by KxInitCatAssembly.
void KxForgetCurrentObjects();

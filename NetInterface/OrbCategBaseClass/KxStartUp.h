// Start and end of the native face, as an application calls them.
//
// The first start loads the kernel's component manager from
//   $KxOrb64 + "Kernel/" + "Lib/" + "CkxCompManagerR.dll"   (or ...D.dll)
// and creates the process-wide kernel objects. A missing KxOrb64, a missing
// library or a library without the entry point ends the process with exit
// code 1 after writing caption and text to standard error.
#pragma once

// Starts the native face. The first call creates the process-wide objects;
// every call counts. `bDebug` chooses the debug build of the component
// manager.
void KxInitCatAssembly(bool bDebug);

// The native part of the end of application: the process-wide objects are
// released once as many ends as starts have been seen.
void KxEndCatAssembly();

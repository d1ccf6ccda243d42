// varnox lenex: LENEX import and export of a meet folder.
#pragma once

// `varnox lenex import DIR FILE.lef|FILE.lxf` and
// `varnox lenex export DIR FILE.lef|FILE.lxf`; argv as main's. Prints what
// was done, or the refusal on standard error; exit 0, 1 on a refusal or
// failure, 2 on a wrong call.
int LenexCommand(int argc, char** argv);

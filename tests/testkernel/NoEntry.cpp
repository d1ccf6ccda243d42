// A library without the component manager's entry point: the loader must
// find it, load it and then fail to look up CreateKxComponent.
extern "C" __attribute__((visibility("default"))) int TkNoEntryMarker() { return 1; }

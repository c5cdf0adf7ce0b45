// A module for the loading tests: one exported entry.
extern "C" __declspec(dllexport) int ProbeAnswer() { return 42; }

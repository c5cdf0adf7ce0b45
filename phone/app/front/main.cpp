// vistrel: the device program. Captures the camera (or the screen, or the microphone),
// compresses the pictures and streams them to the PC.
#include "front/program.h"

int main(int argc, char** argv) { return front::RunVistrel(argc, argv, &front::BuildDeviceSources); }

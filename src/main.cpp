// steward runs a Java application as a Windows service. The whole road starts in StewardMain
// (core/entry.cpp), which picks the run mode from the command line.
#include "core/entry.h"

int main(int argc, char** argv) {
  return StewardMain(argc, argv);
}

#include "control/entry.h"

int main(int argc, char** argv) { return ostrevane::Main(argc, argv); }

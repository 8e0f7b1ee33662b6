#include "app/entry.h"

int main(int argc, char** argv) { return ostrevane::Main(argc, argv); }

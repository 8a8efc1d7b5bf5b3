#include "frontend/modStartup.h"

int main(int argc, char** argv) { return folvane::Main(argc, argv); }

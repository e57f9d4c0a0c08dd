#include "image/startup.h"

int main(int argc, char** argv) { return zorva_main(argc, argv); }

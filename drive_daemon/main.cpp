#include "drive_daemon/kestrow_main.h"

int main(int argc, char** argv) { return sorvel::KestrowMain(argc, argv); }

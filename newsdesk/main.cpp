#include "startup.h"

int main(int argc, char** argv) { return orvo::RunNewsdesk(argc, argv); }

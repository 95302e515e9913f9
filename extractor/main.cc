// SPDX-License-Identifier: MIT
#include "extractor/extractor.h"

int main(int argc, char** argv) { return run_extractor(argc, argv); }

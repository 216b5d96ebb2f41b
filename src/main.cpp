#include <string>
#include <vector>

#include "app/startup.h"

// Without arguments the collector runs; everything it needs is beside it.
int main(int argc, char** argv) { return quelvar::runProcess(std::vector<std::string>(argv + 1, argv + argc)); }

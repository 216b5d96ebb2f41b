#include "app/startup.h"

// The collector takes no options: everything it needs is beside it.
int main() { return quelvar::runProcess(); }

#include "net/plain_receiver.h"

namespace quelvar {

void runPlainReceiver() {}

}  // namespace quelvar

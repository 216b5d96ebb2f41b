#include "net/encrypted_receiver.h"

namespace quelvar {

void runEncryptedReceiver() {}

}  // namespace quelvar
